// Chinese names of the API's column and state names, shared by the views.
export const VERSION_NAMES = {
    AppVersion: 'APP版本',
    McuVersion: 'MCU版本',
    FourGVersion: '4G模块版本',
    GnssVersion: 'GNSS版本',
    SmartModule: '智能模块版本',
};

// Rollout states of a package's terminals, in the order a rollout moves through them.
export const ROLLOUT_STATES = [
    ['wouldUpgrade', '待升级', '下次上报时将获得此升级包'],
    ['downloading', '下载中', '正在下载并上报进度'],
    ['stalled', '已停滞', '升级中但长时间没有进度'],
    ['installing', '安装中', '已下载完毕，尚未以新版本上报'],
    ['done', '已完成', '已以新版本上报'],
    ['onVersion', '无需升级', '版本不低于升级包，且未要求强制升级'],
    ['held', '暂缓', '在线、需要升级，但现在不提供升级包的终端'],
    ['offline', '离线', '需要升级但未连接'],
];

// What the "held" count holds for this package: why its terminals are not offered it now.
export function heldMeaning({ planned, manualMode, package: p }) {
    if (p && p.fileExists === false) return '在线、需要升级，但升级包文件已不在服务器上，暂不提供升级包的终端';
    if (manualMode) return '在线、需要升级，但服务处于手动模式且未标记强制升级，暂不提供升级包的终端';
    if (planned) return '在线、需要升级，但不在发布计划已开放的阶段中（计划暂停或取消时也计入这里），暂不提供升级包的终端';
    return '在线、需要升级，但暂不提供升级包的终端';
}

// The import's columns (the API's names) as the exchange file titles them.
export const COLUMN_TITLES = {
    devId: '设备ID', devSN: '设备序列号', devType: '设备型号', LicensePlateNumber: '车牌号', PhoneNumber: '手机号',
    ...VERSION_NAMES,
    isAutoUpdate: '是否自动升级', ConfigCmd: '配置指令', GetLogFile: '上传日志', GetIndexFile: '上传录像索引',
    GetPrintFile: '上传打印文件', GetRunInfoFile: '上传行车信息文件', UpgradeCompletionTime: '升级完成时间',
};

// Why a terminal's last report was or was not offered its type's package, by the API's code.
export const DECISION_REASONS = [
    ['forced', '强制升级', '操作员要求升级，不论版本新旧'],
    ['newer_component', '有更新的组件', '升级包中有比终端更新的组件'],
    ['no_package', '没有升级包', '此型号还没有升级包'],
    ['package_file_missing', '升级包文件缺失', '升级包文件已不在服务器上'],
    ['manual_mode', '手动模式', '服务处于手动模式，只升级标记了强制升级的终端'],
    ['not_newer', '版本不低于升级包', '升级包中没有比终端更新的组件'],
    ['not_in_open_stage', '所在阶段未开放', '发布计划尚未开放终端所在的阶段，或没有阶段包含它'],
    ['rollout_paused', '发布已暂停', '发布计划已暂停，暂不向新的终端提供升级包'],
    ['rollout_cancelled', '发布已取消', '发布计划已取消，只有强制升级的终端获得升级包'],
    ['rollout_unavailable', '无法读取发布计划', '读取发布计划失败，期间不提供升级包'],
    ['outside_window', '维护时段外', '发布计划的开始时间未到或不在维护时段内，暂不向新的终端提供升级包'],
    ['retry_limit', '达到重试上限', '此升级包在终端上安装未生效的次数达到上限，待操作员放行'],
    ['identity_conflict', '设备ID冲突', '较早的记录：序列号已绑定另一个设备ID，上报被拒绝（现在冲突单独记录，不改变终端的判定）'],
];
// Reasons only older rows carry: counted when some do, not shown as a standing zero.
export const RETIRED_REASONS = new Set(['identity_conflict']);

export const reasonName = (code) => (DECISION_REASONS.find(([c]) => c === code) || [code, `未知原因（${code}）`])[1];

// How an upgrade attempt ended, by the API's result code.
export const ATTEMPT_RESULTS = { succeeded: '成功', notTaken: '安装未生效', stalled: '停滞', abandoned: '下载中断后重来', superseded: '被其他升级包取代' };

// What the service stores as a plan's state; "all stages open" is read from the stages.
export const PLAN_STATES = { running: '进行中', paused: '已暂停', cancelled: '已取消', completed: '全部阶段已开放' };

// The device list's filter members a rollout stage may be taken with.
export const FILTER_CHOICES = {
    online: { true: '在线', false: '离线' },
    pending: { forced: '有强制升级', command: '有配置指令', file: '有文件请求', any: '有待办', none: '无待办' },
    upgradeState: { none: '从未升级', running: '升级中', stalled: '升级停滞', completed: '已完成升级' },
};
