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
    ['held', '暂缓', '版本较旧，但手动模式或升级包文件缺失使其暂不升级'],
    ['offline', '离线', '需要升级但未连接'],
];

// The import's columns (the API's names) as the exchange file titles them.
export const COLUMN_TITLES = {
    devId: '设备ID', devSN: '设备序列号', devType: '设备型号', LicensePlateNumber: '车牌号', PhoneNumber: '手机号',
    ...VERSION_NAMES,
    isAutoUpdate: '是否自动升级', ConfigCmd: '配置指令', GetLogFile: '上传日志', GetIndexFile: '上传录像索引',
    GetPrintFile: '上传打印文件', GetRunInfoFile: '上传行车信息文件', UpgradeCompletionTime: '升级完成时间',
};
