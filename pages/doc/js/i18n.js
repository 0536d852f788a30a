// The pages in English or Chinese. Chinese is what the pages are written in and stays the
// default; English is chosen per browser (localStorage) and applied by translating what is
// shown: the static texts once, and whatever the views draw afterwards as they draw it, so the
// views need not know about it. A text without an entry stays as it is.
const STORE = 'wayfarer.lang';

export const language = (() => {
    try {
        return localStorage.getItem(STORE) === 'en' ? 'en' : 'zh';
    } catch {
        return 'zh';
    }
})();

// Whole texts, as shown (trimmed).
const WORDS = {
    'Wayfarer 终端升级管理': 'Wayfarer terminal upgrades', '车载终端升级管理': 'Vehicle terminal upgrades',
    '登录': 'Log in', '账户': 'Account', '密码': 'Password',
    '首次启动时，管理员账户 admin 的初始密码保存在服务程序目录下的 initial-admin-password 文件中。':
        'On first start, the initial password of the admin account is in the file initial-admin-password in the service\'s directory.',
    '修改密码': 'Change password', '首次登录或密码被管理员重置后，须先设置新密码。': 'After the first login or a reset by an admin, set a new password first.',
    '当前密码': 'Current password', '新密码（8 到 128 个字符）': 'New password (8 to 128 characters)', '再次输入新密码': 'New password again',
    '保存新密码': 'Save new password', '取消': 'Cancel', '主菜单': 'Main menu',
    '设备列表': 'Devices', '升级包': 'Packages', '发布情况': 'Rollout', '升级记录': 'Upgrades', '设备清单导入导出': 'Import / export', '系统管理': 'Administration',
    '退出登录': 'Log out', '正在连接服务…': 'Connecting to the service…', '服务正常': 'Service up', '服务无响应': 'Service not answering',
    '此页面需要启用 JavaScript。': 'This page needs JavaScript.',
    '全部终端；点击一行查看详情并修改待办请求。在线状态、升级进度和待办自动刷新。': 'Every terminal; click a row for its details and pending requests. Presence, progress and requests refresh by themselves.',
    '实时刷新': 'Live', '刷新': 'Refresh', '导出格式': 'Export format', '导出当前列表': 'Export this list', '搜索': 'Search',
    '序列号、车牌、手机号等的一部分': 'Part of a serial, plate, phone…',
    '序列号、车牌号、手机号、设备ID或型号的一部分': 'Part of a serial number, plate, phone number, device ID or type',
    '设备型号': 'Device type', '不限': 'Any', '版本': 'Version', '比较的版本': 'Version compared', '4G模块': '4G module', '智能模块': 'Smart module',
    '比较方式': 'Comparison', '等于': 'equals', '不等于': 'differs from', '版本号': 'Version', '在线': 'Online', '离线': 'Offline', '待办': 'Pending',
    '有待办': 'Any request', '强制升级': 'Forced upgrade', '配置指令': 'Command', '文件请求': 'File request', '无待办': 'None pending',
    '升级状态': 'Upgrade', '升级中': 'Upgrading', '升级停滞': 'Stalled', '已完成升级': 'Upgraded', '从未升级': 'Never upgraded',
    '清除条件': 'Clear filters', '清除全部条件': 'Clear all filters', '当前条件': 'Current filters',
    '已保存的筛选': 'Saved filters', '选择已保存的筛选…': 'Choose a saved filter…', '还没有保存的筛选': 'No saved filters yet', '删除': 'Delete',
    '筛选名称': 'Filter name', '为当前筛选命名': 'Name this filter', '保存当前筛选': 'Save this filter', '复制链接': 'Copy link', '显示的列': 'Columns',
    '已保存筛选': 'Filter saved', '请先填写筛选的名称': 'Give the filter a name first', '已复制本列表的链接': 'Link to this list copied',
    '请从地址栏复制本列表的链接': 'Copy this list\'s link from the address bar',
    '已选择': 'Selected', '台设备': 'devices', '取消强制升级': 'Cancel forced upgrade', '下发配置指令': 'Send command', '请求上传文件': 'Request files',
    '清除待办': 'Clear requests', '取消选择': 'Clear selection', '（勾选的设备）': ' (ticked)', '（符合当前条件的全部设备）': ' (everything matching)',
    '设备列表：上下方向键移动，回车打开详情，空格选择': 'Device list: arrow keys move, Enter opens, Space selects',
    '选择全部符合条件的设备': 'Select every matching device',
    '序列号': 'Serial', '型号': 'Type', '车牌号': 'Plate', '手机号': 'Phone', 'APP版本': 'APP version', 'MCU版本': 'MCU version',
    '4G模块版本': '4G module version', 'GNSS版本': 'GNSS version', '智能模块版本': 'Smart module version', '设备ID': 'Device ID',
    '升级': 'Upgrade', '最近上报': 'Last report', '无': 'None', '加载中…': 'Loading…', '已完成': 'Completed', '停滞': 'Stalled',
    '日志': 'Log', '录像索引': 'Video index', '打印': 'Print', '行车信息': 'Trip data',
    '共': 'Total', '符合条件': 'Matching', '正在升级': 'Upgrading',
    '没有符合条件的设备': 'No device matches', '还没有终端上报过': 'No terminal has reported yet',
    '每个升级包在其型号终端中的进展：分阶段发布的各阶段、各状态的终端数、最近一次上报的判定、正在下载的终端和各状态的终端列表，每 3 秒刷新。':
        'How each package spreads among the terminals of its type: the stages, the terminals in each state, the last decisions, the downloads; refreshed every 3 s.',
    '每种设备型号只有一个当前升级包；同型号上传新包会替换原记录。': 'Each device type has one current package; a new upload for the type replaces it.',
    '上传升级包': 'Upload a package', '选择或拖入升级包文件': 'Choose or drop the package file', '分块上传，最后一块成功后才会登记': 'Uploaded in chunks; recorded once the last one arrived',
    '设备型号 *': 'Device type *', '例如 T1': 'e.g. T1', '分块大小': 'Chunk size', '开始上传': 'Upload', '上传进度': 'Upload progress',
    '分阶段发布：上传完成后按以下计划发布（可选；不设置则此型号的终端都可获得升级包）': 'Staged rollout after the upload (optional; without it every terminal of the type may get the package)',
    '版本留空的组件不参与版本比较。文件名、型号和版本中不能含有 “&” 或 “=”。': 'Components left empty are not compared. Names, type and versions may not hold “&” or “=”.',
    '每一次升级：进行中、停滞、完成、安装未生效或被新的升级取代；终端断开或重新连接后记录仍在。每 2 秒刷新。':
        'Every upgrade: running, stalled, completed, not taken or superseded; kept when the terminal disconnects or comes back. Refreshed every 2 s.',
    '自动刷新': 'Auto refresh', '停止全部强制升级': 'Stop all forced upgrades', '按状态筛选': 'Filter by state', '全部': 'All', '已停滞': 'Stalled',
    '安装未生效': 'Not taken', '已被替代': 'Superseded', '序列号（可输入一部分）': 'Serial (or a part of it)', '如 A12，留空表示全部': 'e.g. A12; empty for all',
    '开始于（起）': 'Started from', '开始于（止，含当天）': 'Started until (inclusive)', '查询': 'Search', '原 APP 版本': 'APP version before', '进度': 'Progress',
    '状态': 'State', '开始时间': 'Started', '完成时间': 'Completed at', '上一页': 'Previous', '下一页': 'Next', '最近刷新': 'Refreshed',
    '没有符合条件的升级记录': 'No upgrade matches', '还没有升级记录': 'No upgrade yet',
    '导出设备清单，在表格程序中编辑待办请求后导入；导入前由服务逐行逐列列出将要写入的修改。': 'Export the device list, edit the requests in a spreadsheet, import it back; the service lists every change before it writes.',
    '1. 导出': '1. Export', '2. 导入': '2. Import', 'CSV 文件': 'CSV file', 'Excel 工作簿 (.xlsx)': 'Excel workbook (.xlsx)', '导出设备清单': 'Export the device list',
    '下载全部设备的清单：16 列加升级完成时间。CSV 为 GBK 编码。': 'Every device: 16 columns and the completion time. CSV files are GBK-encoded.',
    '选择编辑后的 CSV 或 .xlsx 文件，核对预览后导入。全部修改在一次事务中写入。': 'Choose the edited CSV or .xlsx file, check the preview, import. All changes are written in one transaction.',
    '选择 CSV 或 Excel 文件': 'Choose a CSV or Excel file', '同时写入文件中的版本号（导出后已升级的终端除外）': 'Also write the versions in the file (not for terminals upgraded since the export)',
    '导入': 'Import', '导入进度': 'Import progress', '导入预览': 'Import preview', '可编辑的列': 'Editable columns',
    '账户与角色、脚本使用的 API 令牌，以及全部更改的审计记录。': 'Accounts and roles, API tokens for scripts, and the audit trail of every change.',
    '新账户名': 'New account', '角色': 'Role', '只读': 'Viewer', '操作员': 'Operator', '管理员': 'Admin', '初始密码': 'Initial password', '创建账户': 'Create account',
    'API 令牌': 'API tokens', '令牌名称': 'Token name', '有效天数': 'Days valid', '创建令牌': 'Create token', '审计记录': 'Audit trail',
    '留空表示不限；令牌为 token:名称': 'Empty for any; a token is token:name', '操作': 'Action', '日期（起）': 'From date', '日期（止，含当天）': 'To date (inclusive)',
    '导出 CSV': 'Export CSV', '确定': 'OK', '保存计划': 'Save plan', '关闭（Esc）': 'Close (Esc)', '时间': 'Time', '来源地址': 'Address', '接口': 'Route', '摘要': 'Summary',
    '没有记录': 'No entries', '正常': 'Active', '待修改初始密码': 'Must change initial password', '重置密码': 'Reset password', '创建时间': 'Created',
    '登录失败': 'Failed login', '删除升级包': 'Package deleted', '修改设备待办': 'Device requests changed', '导入设备清单': 'Device list imported',
    '清除强制升级': 'Forced upgrades cleared', '修改账户': 'Account changed', '删除账户': 'Account deleted', '吊销令牌': 'Token revoked',
    '解除设备ID绑定': 'Device ID pin released', '设置发布计划': 'Rollout plan set', '继续发布': 'Rollout resumed', '开放下一阶段': 'Next stage opened',
    '取消发布': 'Rollout cancelled', '暂停发布': 'Rollout paused', '新包重新发布': 'Rollout restarted for a new upload',
    '终端状态': 'Terminal states', '待升级': 'Will upgrade', '下载中': 'Downloading', '安装中': 'Installing', '无需升级': 'Up to date', '暂缓': 'Held',
    '正在下载': 'Downloading now', '最近一次上报的判定': 'Decisions at the last report',
    '未启用登录': 'Logins off', '查看者': 'Viewer',
    // The drawer.
    '身份': 'Identity', '已绑定当前设备ID': 'Pinned to its current device ID', '未绑定：下次上报时绑定所报的设备ID': 'Not pinned: the next report pins the device ID it gives',
    '设备ID绑定': 'Device ID pin', '在线状态': 'Presence', '连接时间': 'Connected', '从未上报': 'Never reported', '终端地址': 'Address', '固件版本': 'Firmware',
    '最近升级完成': 'Last upgrade completed', '待办请求': 'Pending requests', '强制升级（下次上报时升级，无论版本新旧）': 'Forced upgrade (at the next report, whatever the versions)',
    '配置指令（下次上报时下发，执行成功后清空）': 'Command (sent at the next report, cleared once carried out)', '请求终端上传文件': 'Ask the terminal for files',
    '上传日志': 'Log file', '上传录像索引': 'Video index', '上传打印文件': 'Print file', '上传行车信息文件': 'Trip data file',
    '保存待办': 'Save requests', '还原': 'Revert', '只读账户不能修改待办请求。': 'A viewer cannot change the requests.', '没有修改。': 'Nothing changed.',
    '已保存，终端下次上报时执行。': 'Saved; the terminal carries it out at its next report.', '解除绑定': 'Release pin', '没有升级记录。': 'No upgrade.',
    '终端上传的文件': 'Files from the terminal', '终端还没有上传过文件。可在“待办请求”中请求上传。': 'No file from the terminal yet; ask for one under “Pending requests”.',
    '类型': 'Kind', '文件名': 'File name', '大小': 'Size', '请求时间': 'Requested', '下载': 'Download', '正在读取…': 'Reading…',
    '最近一次升级判定': 'Last upgrade decision', '还没有判定记录：终端尚未上报。': 'No decision yet: the terminal has not reported.', '结果': 'Outcome',
    '已提供升级包': 'Package offered', '未提供升级包': 'Not offered', '原因': 'Reason', '说明': 'Detail', '判定时间': 'Decided',
    // Rollout.
    '台': 'terminals', '；服务处于手动模式：只有标记了强制升级的终端会升级': '; the service is in manual mode: only terminals marked for a forced upgrade upgrade',
    '各状态终端所占比例': 'Share of each state', '当前没有终端在下载此升级包。': 'No terminal is downloading this package now.', '终端列表': 'Terminals',
    '点击上方的状态，列出处于该状态的终端。': 'Click a state above to list its terminals.', '没有终端处于此状态': 'No terminal in this state',
    '还没有升级包。上传升级包后，可在这里查看它的发布情况。': 'No package yet. Once one is uploaded its rollout shows here.',
    '下次上报时将获得此升级包': 'gets this package at its next report', '正在下载并上报进度': 'downloading and reporting progress',
    '升级中但长时间没有进度': 'upgrading but without progress for long', '已下载完毕，尚未以新版本上报': 'downloaded, not yet reported on the new version',
    '已以新版本上报': 'reported on the new version', '版本不低于升级包，且未要求强制升级': 'not older than the package and not forced',
    '在线、需要升级，但现在不提供升级包的终端': 'online terminals that need the package but are not offered it now',
    '在线、需要升级，但升级包文件已不在服务器上，暂不提供升级包的终端': 'online terminals that need the package, not offered it because its file is gone from the server',
    '在线、需要升级，但服务处于手动模式且未标记强制升级，暂不提供升级包的终端': 'online terminals that need the package, not offered it because the service is in manual mode and they are not forced',
    '在线、需要升级，但不在发布计划已开放的阶段中（计划暂停或取消时也计入这里），暂不提供升级包的终端': 'online terminals that need the package but are not in an open stage of the rollout plan (also while it is paused or cancelled)',
    '在线、需要升级，但暂不提供升级包的终端': 'online terminals that need the package but are not offered it for now',
    '需要升级但未连接': 'need the package but are not connected',
    '有更新的组件': 'Newer component', '升级包中有比终端更新的组件': 'the package has a component newer than the terminal\'s', '没有升级包': 'No package',
    '此型号还没有升级包': 'no package for this type yet', '升级包文件缺失': 'Package file missing', '手动模式': 'Manual mode',
    '服务处于手动模式，只升级标记了强制升级的终端': 'the service is in manual mode and upgrades forced terminals only', '版本不低于升级包': 'Not older',
    '升级包中没有比终端更新的组件': 'no component of the package is newer', '所在阶段未开放': 'Stage not open',
    '发布计划尚未开放终端所在的阶段，或没有阶段包含它': 'the plan has not opened the terminal\'s stage, or no stage holds it', '发布已暂停': 'Rollout paused',
    '发布计划已暂停，暂不向新的终端提供升级包': 'the plan is paused: no new terminal is offered the package', '发布已取消': 'Rollout cancelled',
    '发布计划已取消，只有强制升级的终端获得升级包': 'the plan is cancelled: only forced terminals get the package', '无法读取发布计划': 'Plan unreadable',
    '读取发布计划失败，期间不提供升级包': 'the plan could not be read; nothing is offered meanwhile', '设备ID冲突': 'Device ID conflict',
    '进行中': 'Running', '已暂停': 'Paused', '已取消': 'Cancelled', '全部阶段已开放': 'All stages open',
    '台有判定记录：每台按它最近一次上报时是否获得升级包及其原因计数。': 'terminals have a decision: each counted by whether its last report was offered the package, and why.',
    '阶段': 'Stage', '范围': 'Takes', '终端': 'Terminals', '已尝试': 'Attempted', '成功': 'Succeeded', '失败': 'Failed', '等待': 'Waiting',
    '成功比例': 'Success share', '最短时间': 'Minimum time', '开放时间': 'Opened', '分阶段发布': 'Staged rollout', '恢复发布': 'Resume rollout',
    '替换发布计划': 'Replace the plan', '此型号的终端都可获得升级包。': 'Every terminal of the type may get the package.',
    '此升级包没有发布计划：此型号的终端只要有较旧的组件，下次上报时就会获得它。': 'This package has no rollout plan: a terminal of the type with an older component gets it at its next report.',
    '未开放': 'Not open', '当前': 'Current', '已开放': 'Open', '关闭': 'Close', '没有数据': 'No data',
    // Packages and import.
    '未填写版本': 'No version', '下载升级包': 'Download package', '升级包文件已不在服务器上': 'The package file is gone from the server',
    '上传时间': 'Uploaded', '编号': 'ID', '还没有升级包': 'No package yet', '个升级包': 'packages', '查看发布情况': 'See its rollout',
    '请选择升级包文件': 'Choose a package file', '文件为空': 'The file is empty', '请填写设备型号': 'Give the device type', '上传': 'Upload',
    '新增': 'New', '更新': 'Changed', '不变': 'Unchanged', '是': 'yes', '否': 'no', '空': 'empty', '文件共': 'The file has', '行': 'rows',
    '设备序列号': 'Serial number', '将写入的修改': 'Changes to write', '提示': 'Note', '导入完成': 'Imported', '导入失败，没有写入任何修改': 'Import failed; nothing was written',
    '正在由服务检查文件…': 'The service is checking the file…', '正在上传文件…': 'Uploading the file…', '服务正在写入…': 'The service is writing…',
    '只能导入 .csv 或 .xlsx 文件。': 'Only .csv or .xlsx files can be imported.', '列': 'Column', '标题': 'Title', '取值': 'Values', '作用': 'Effect',
    '账户或密码错误': 'Wrong account or password', '两次输入的新密码不一致': 'The two new passwords differ', '密码已修改': 'Password changed',
};

// Texts with numbers or names in them.
const PATTERNS = [
    [/^第 (\d+)–(\d+) 条，共 (\d+) 条$/, 'Rows $1–$2 of $3'],
    [/^更新于 (.+)$/, 'Updated $1'],
    [/^选择 (.+)$/, 'Select $1'],
    [/^(.+) 升级进度$/, '$1 upgrade progress'],
    [/^搜索 “(.*)”$/, 'Search “$1”'],
    [/^型号 = (.*)$/, 'Type = $1'],
    [/^选择符合条件的全部 (\d+) 台$/, 'Select all $1 matching'],
    [/^最近进度 (.+)$/, 'last progress $1'],
    [/^(\d+) 秒前$/, '$1 s ago'], [/^(\d+) 分钟前$/, '$1 min ago'], [/^(\d+) 小时前$/, '$1 h ago'], [/^(\d+) 天前$/, '$1 days ago'],
    [/^移除条件：(.*)$/, 'Remove filter: $1'],
    [/^型号 (.+) 的终端共$/, 'Terminals of type $1:'], [/^型号 (.+) 的终端中，$/, 'Of the terminals of type $1,'],
    [/^“暂缓”计数：(.+)。$/, '“Held” counts $1.'],
    [/^已选择 (\d+) 台设备。你的账户是只读角色：.*$/, '$1 devices selected. Your account is a viewer: it may look at and export devices but not send them a forced upgrade, a command or a file request; ask an admin for another role.'],
    [/^服务在线 · (.+)$/, 'Service up · $1'], [/^服务无应答 · (.+)$/, 'Service not answering · $1'], [/^无法连接服务 · (.+)$/, 'Service unreachable · $1'],
];

export function translate(text) {
    if (language !== 'en' || !text) return text;
    const core = text.trim();
    if (!core || !/[\u3000-\u9fff\uff00-\uffef]/.test(core)) return text;
    let english = WORDS[core];
    if (english === undefined) {
        const pattern = PATTERNS.find(([re]) => re.test(core));
        if (!pattern) return text;
        english = core.replace(pattern[0], (...groups) => pattern[1].replace(/\$(\d)/g, (_, n) => translate(groups[Number(n)])));
    }
    const at = text.indexOf(core);
    return text.slice(0, at) + english + text.slice(at + core.length);
}

const ATTRIBUTES = ['placeholder', 'title', 'aria-label'];

function translateTree(root) {
    if (root.nodeType === Node.TEXT_NODE) {
        const next = translate(root.nodeValue);
        if (next !== root.nodeValue) root.nodeValue = next;
        return;
    }
    if (root.nodeType !== Node.ELEMENT_NODE) return;
    for (const name of ATTRIBUTES) {
        const value = root.getAttribute(name);
        if (value) {
            const next = translate(value);
            if (next !== value) root.setAttribute(name, next);
        }
    }
    for (const child of root.childNodes) translateTree(child);
}

// The switch (a button naming the other language) and, in English, the translation of what is
// shown now and from now on.
export function initLanguage() {
    for (const button of document.querySelectorAll('.lang-switch')) {
        button.textContent = language === 'en' ? '中文' : 'English';
        button.setAttribute('lang', language === 'en' ? 'zh-CN' : 'en');
        button.addEventListener('click', () => {
            try {
                localStorage.setItem(STORE, language === 'en' ? 'zh' : 'en');
            } catch {
                return;
            }
            location.reload();
        });
    }
    if (language !== 'en') return;
    document.documentElement.lang = 'en';
    translateTree(document.body);
    document.title = translate(document.title);
    new MutationObserver((changes) => {
        for (const change of changes) {
            if (change.type === 'characterData' || change.type === 'attributes') translateTree(change.target);
            else change.addedNodes.forEach(translateTree);
        }
    }).observe(document.body, { subtree: true, childList: true, characterData: true, attributes: true, attributeFilter: ATTRIBUTES });
    // The page's title names the page shown.
    new MutationObserver(() => {
        const [page, rest] = document.title.split(' · ');
        const next = rest ? `${translate(page)} · ${translate(rest)}` : translate(document.title);
        if (next !== document.title) document.title = next;
    }).observe(document.querySelector('title'), { childList: true, characterData: true, subtree: true });
}
