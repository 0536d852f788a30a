// Devices page: the device list, search by serial number and phone, live progress of terminals
// that are upgrading, and markers for pending requests (read from the device-list export, because
// the JSON device item does not carry them).
import { api, unsafeQueryValue } from './api.js';
import { decodeCsv, parseDeviceCsv, pendingBySerial } from './csv.js';
import { el, formatClock, notifyError, progressBar, renderTable } from './ui.js';
import { reportService } from './service.js';

const PROGRESS_POLL_MS = 2000;
const LIST_POLL_MS = 10000;

const state = {
    devices: [],
    query: null, // { deviceNo, phoneNum } while a search is shown
    live: new Map(), // deviceNo -> device item of the uploadStatus list
    pending: null, // deviceNo -> pending requests, from the export
    sort: { key: 'id', dir: 'asc' },
    timers: [],
    active: false,
    listTicket: 0,
    polling: false,
    listError: null,
    liveError: null,
};

function pendingTags(row) {
    const p = state.pending && state.pending.get(row.deviceNo);
    if (!p) return state.pending ? el('span', { class: 'muted', text: '无' }) : el('span', { class: 'muted', text: '—' });
    const tags = [];
    if (p.autoUpdate) tags.push(el('span', { class: 'tag tag-force', title: '是否自动升级 = 1', text: '强制升级' }));
    if (p.configCmd) tags.push(el('span', { class: 'tag tag-cmd', title: `配置指令：${p.configCmd}`, text: '配置指令' }));
    const files = [['logFile', '日志'], ['indexFile', '录像索引'], ['printFile', '打印'], ['runInfoFile', '行车信息']];
    for (const [key, label] of files) {
        if (p[key]) tags.push(el('span', { class: 'tag tag-file', title: `待上传${label}文件`, text: label }));
    }
    return tags.length ? el('span', { class: 'tags' }, tags) : el('span', { class: 'muted', text: '无' });
}

function progressOf(row) {
    const live = state.live.get(row.deviceNo);
    return live ? { reported: live.uploadStatus, progress: live.progress } : { reported: row.uploadStatus, progress: row.progress };
}

const columns = [
    { key: 'id', title: 'ID', class: 'num' },
    { key: 'deviceNo', title: '设备序列号', hint: 'deviceNo', class: 'strong sticky' },
    { key: 'pending', title: '待办', hint: '来自设备清单导出文件', sortable: false, render: pendingTags },
    {
        // uploadStatus and progress of the JSON item, in one cell.
        key: 'progress', title: '升级进度', hint: 'uploadStatus / progress', class: 'progress-col',
        sortValue: (r) => (progressOf(r).reported ? 1 + (progressOf(r).progress || 0) : 0),
        render: (r) => {
            const { reported, progress } = progressOf(r);
            if (!reported) return el('span', { class: 'muted', dataset: { status: 'idle' }, text: '未上报' });
            const done = progress >= 100;
            return el('span', { class: 'inline-progress', dataset: { status: done ? 'done' : 'upgrading' } },
                progressBar(progress, `${r.deviceNo} 升级进度`),
                el('span', { class: 'pct', text: `${progress}%` }),
                el('span', { class: `pill ${done ? 'pill-ok' : 'pill-live'}`, text: done ? '已完成' : '升级中' }));
        },
    },
    { key: 'lastUpdateTime', title: '升级完成时间', hint: 'lastUpdateTime（服务主机本地时间）', class: 'nowrap' },
    { key: 'deviceId', title: '设备ID', hint: 'deviceId' },
    { key: 'deviceType', title: '设备型号', hint: 'deviceType' },
    { key: 'plateNo', title: '车牌号', hint: 'plateNo' },
    { key: 'phone', title: '手机号', hint: 'phone' },
    { key: 'AppVersion', title: 'APP版本', hint: 'AppVersion', class: 'mono' },
    { key: 'McuVersion', title: 'MCU版本', hint: 'McuVersion', class: 'mono' },
    { key: 'FourGVersions', title: '4G模块版本', hint: 'FourGVersions', class: 'mono' },
    { key: 'GnssVersions', title: 'GNSS版本', hint: 'GnssVersions', class: 'mono' },
    { key: 'SmartModule', title: '智能模块版本', hint: 'SmartModule', class: 'mono' },
];

function render() {
    renderRows();
    renderSummary();
}

// The filter works on the rows already loaded; the search goes to the service.
const filters = {
    all: () => true,
    pending: (r) => {
        const p = state.pending && state.pending.get(r.deviceNo);
        return !!p && (p.autoUpdate || !!p.configCmd || p.logFile || p.indexFile || p.printFile || p.runInfoFile);
    },
    forced: (r) => !!(state.pending && state.pending.get(r.deviceNo)?.autoUpdate),
    upgrading: (r) => progressOf(r).reported,
};

function visibleDevices() {
    return state.devices.filter(filters[document.getElementById('devices-filter').value] || filters.all);
}

function renderRows() {
    const table = document.getElementById('devices-table');
    renderTable(table, columns, visibleDevices(), {
        rowKey: (r) => r.deviceNo,
        emptyText: state.query || document.getElementById('devices-filter').value !== 'all' ? '没有符合条件的设备' : '还没有终端上报过',
        sortState: state.sort,
        onSort: (key) => {
            state.sort = { key, dir: state.sort.key === key && state.sort.dir === 'asc' ? 'desc' : 'asc' };
            render();
        },
        rowClass: (r) => {
            const p = state.pending && state.pending.get(r.deviceNo);
            return [p && p.autoUpdate ? 'row-force' : '', progressOf(r).reported ? 'row-live' : ''].filter(Boolean).join(' ') || undefined;
        },
    });
}

function renderSummary() {
    const upgrading = state.devices.filter((d) => progressOf(d).reported).length;
    const forced = state.pending ? [...state.pending.values()].filter((p) => p.autoUpdate).length : null;
    const summary = document.getElementById('devices-summary');
    summary.replaceChildren(...[
        el('span', {}, state.query ? '查询结果 ' : '共 ', el('b', { id: 'devices-count', text: String(state.devices.length) }), ' 台设备'),
        document.getElementById('devices-filter').value !== 'all' ? el('span', {}, '当前显示 ', el('b', { text: String(visibleDevices().length) }), ' 台') : null,
        state.query ? el('span', { class: 'muted', text: `（序列号 “${state.query.deviceNo || '不限'}”，手机号 “${state.query.phoneNum || '不限'}”）` }) : null,
        el('span', {}, '正在升级 ', el('b', { text: String(upgrading) })),
        forced === null ? null : el('span', {}, '强制升级标记 ', el('b', { text: String(forced) })),
        el('span', { class: 'muted', text: `更新于 ${formatClock()}` }),
        ...[state.listError, state.liveError].filter(Boolean).map((text) => el('span', { class: 'error-text', role: 'alert', text }))].filter(Boolean));
}

// Every load runs (a search must not wait for a poll); only the latest one's answer is shown.
// Failures of the periodic refresh are shown in the summary line instead of a notice each time.
async function loadList({ periodic = false } = {}) {
    const ticket = ++state.listTicket;
    const query = state.query;
    try {
        const doc = query ? await api.queryDevices(query.deviceNo, query.phoneNum) : await api.deviceList();
        reportService(true);
        if (ticket !== state.listTicket) return;
        state.devices = doc.list;
        state.listError = null;
    } catch (err) {
        reportService(false, err);
        if (ticket !== state.listTicket) return;
        state.listError = `读取设备列表失败：${err.message}`;
        if (!periodic) notifyError('读取设备列表', err);
    }
    render();
}

// The export is the only source of the pending requests. Each export leaves a file in the
// service's exchange directory until its next start, so it is read on demand, not on every poll.
async function loadPending() {
    const label = document.getElementById('pending-state');
    label.textContent = '正在读取…';
    try {
        const response = await api.exportDeviceList();
        const parsed = parseDeviceCsv(decodeCsv(await response.arrayBuffer()));
        if (!parsed.ok) throw new Error(`导出文件格式不符：${parsed.error}`);
        state.pending = pendingBySerial(parsed.rows);
        label.textContent = `读取于 ${formatClock()}（点“刷新”重新读取）`;
    } catch (err) {
        state.pending = null;
        label.textContent = '读取失败';
        notifyError('读取待办标记（设备清单导出）', err);
    }
    render();
}

async function pollProgress() {
    if (state.polling) return;
    state.polling = true;
    try {
        const doc = await api.uploadStatusList();
        state.liveError = null;
        const before = state.live;
        state.live = new Map(doc.list.map((d) => [d.deviceNo, d]));
        const fingerprint = (m) => [...m.values()].map((d) => `${d.deviceNo}:${d.progress}`).join('|');
        const changed = fingerprint(before) !== fingerprint(state.live);
        reportService(true);
        // A terminal that finished, or one not listed yet, changes the list itself: reload it.
        const known = new Set(state.devices.map((d) => d.deviceNo));
        const finished = [...state.live.values()].some((d) => d.progress >= 100 && !(before.get(d.deviceNo)?.progress >= 100));
        const unknown = !state.query && [...state.live.keys()].some((sn) => !known.has(sn));
        if (finished || unknown) await loadList({ periodic: true });
        else if (changed) render();
        else renderSummary(); // a long list is rebuilt only when a bar moved
    } catch (err) {
        reportService(false, err);
        state.liveError = `读取实时进度失败：${err.message}`;
        render();
    } finally {
        state.polling = false;
    }
}

function stopTimers() {
    state.timers.forEach(clearInterval);
    state.timers = [];
}

function startTimers() {
    stopTimers();
    if (!state.active || !document.getElementById('devices-live').checked) return;
    state.timers.push(setInterval(pollProgress, PROGRESS_POLL_MS));
    state.timers.push(setInterval(() => loadList({ periodic: true }), LIST_POLL_MS));
}

export function initDevices() {
    document.getElementById('devices-search').addEventListener('submit', (event) => {
        event.preventDefault();
        const deviceNo = document.getElementById('search-device-no').value.trim();
        const phoneNum = document.getElementById('search-phone').value.trim();
        if (unsafeQueryValue(deviceNo) || unsafeQueryValue(phoneNum)) {
            notifyError('查询', new Error('序列号和手机号中不能含有 “&” 或 “=”'));
            return;
        }
        state.query = deviceNo || phoneNum ? { deviceNo, phoneNum } : null;
        loadList();
    });
    document.getElementById('search-reset').addEventListener('click', () => {
        document.getElementById('search-device-no').value = '';
        document.getElementById('search-phone').value = '';
        state.query = null;
        loadList();
    });
    document.getElementById('devices-refresh').addEventListener('click', () => {
        loadList();
        pollProgress();
        loadPending();
    });
    document.getElementById('devices-live').addEventListener('change', startTimers);
    document.getElementById('devices-filter').addEventListener('change', render);
}

export const devicesPage = {
    activate() {
        state.active = true;
        loadList().then(pollProgress);
        loadPending();
        startTimers();
    },
    deactivate() {
        state.active = false;
        stopTimers();
    },
    // Device types known from the list, offered when uploading a package.
    knownTypes: () => [...new Set(state.devices.map((d) => d.deviceType).filter(Boolean))],
    invalidatePending() {
        state.pending = null;
    },
};
