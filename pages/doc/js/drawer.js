// The device drawer: one terminal in full, a section per concern (identity, presence, versions,
// pending requests, upgrade history, collected files). Other views add their own sections with
// registerDeviceSection; each renders from the terminal's document alone.
import { v2 } from './api.js';
import { formatAgo, formatEpoch } from './clock.js';
import { allows } from './session.js';
import { confirmAction, el, formatBytes, notifyError, setMessage } from './ui.js';
import { VERSION_NAMES, reasonName } from './names.js';

const REFRESH_MS = 5000;
const FILE_TYPES = { log: '日志', index: '录像索引', print: '打印文件', runInfo: '行车信息' };
export const ATTEMPT_STATES = { running: '升级中', stalled: '已停滞', completed: '已完成', reverted: '安装未生效', superseded: '已被替代' };
// When an attempt completed: never for one whose terminal came back on the versions it had.
export const completedAt = (a) => (a.state === 'completed' ? a.completedAt : 0);
const FILE_REQUESTS = [['GetLogFile', '上传日志'], ['GetIndexFile', '上传录像索引'], ['GetPrintFile', '上传打印文件'], ['GetRunInfoFile', '上传行车信息文件']];

const sections = [];
const state = { devSN: null, detail: null, timer: 0, opener: null, dirty: false, ticket: 0 };
const $ = (id) => document.getElementById(id);

// A section: { id, title, render(detail) -> Node, keepWhileEditing }. `before` names the section
// it goes in front of; without it the section goes last.
export function registerDeviceSection(section, { before } = {}) {
    const at = before ? sections.findIndex((s) => s.id === before) : -1;
    if (at < 0) sections.push(section);
    else sections.splice(at, 0, section);
}

export function facts(pairs) {
    return el('dl', { class: 'facts' }, pairs.filter(Boolean).flatMap(([term, value, attrs = {}]) => [
        el('dt', { text: term }),
        el('dd', attrs, value === '' || value === null || value === undefined ? el('span', { class: 'muted', text: '—' }) : value),
    ]));
}

const withAgo = (seconds) => (seconds ? `${formatEpoch(seconds)}（${formatAgo(seconds)}）` : '');

registerDeviceSection({
    id: 'identity',
    title: '身份',
    render: ({ device }) => {
        const pin = el('span', { text: device.IdentityPinned ? '已绑定当前设备ID' : '未绑定：下次上报时绑定所报的设备ID' });
        const box = el('div', {}, facts([
            ['序列号', device.devSN, { class: 'strong' }],
            ['设备ID', device.devId],
            ['型号', device.devType],
            ['车牌号', device.LicensePlateNumber],
            ['手机号', device.PhoneNumber],
            ['设备ID绑定', pin, { id: 'drawer-pin-state' }],
        ]));
        if (device.IdentityPinned && allows('operator')) {
            const message = el('div', { class: 'message', hidden: true });
            box.append(el('div', { class: 'section-actions' },
                el('button', { class: 'btn btn-small', type: 'button', id: 'drawer-release-pin', text: '解除设备ID绑定', onclick: () => releasePin(device.devSN, message) })),
            message);
        }
        return box;
    },
});

registerDeviceSection({
    id: 'presence',
    title: '在线状态',
    render: ({ device }) => {
        const online = el('span', { class: `presence ${device.online ? 'presence-on' : 'presence-off'}`, id: 'drawer-online', text: device.online ? '在线' : '离线' });
        const p = device.presence;
        return facts([
            ['状态', online],
            p ? ['连接时间', withAgo(p.connectedSince)] : null,
            ['最近上报', withAgo((p && p.lastReport) || device.LastReportTime) || '从未上报'],
            p ? ['终端地址', p.peerAddress, { class: 'mono' }] : null,
        ]);
    },
});

registerDeviceSection({
    id: 'versions',
    title: '固件版本',
    render: ({ device }) => facts([
        ...Object.entries(VERSION_NAMES).map(([key, name]) => [name, device[key], { class: 'mono', 'data-field': key }]),
        ['最近升级完成', device.UpgradeCompletionTime ? formatEpoch(device.UpgradeCompletionTime) : '无'],
    ]),
});

registerDeviceSection({ id: 'pending', title: '待办请求', keepWhileEditing: true, render: renderPending });

function renderPending({ device }) {
    const editable = allows('operator');
    const box = (key, label) => el('label', { class: 'check' }, el('input', { type: 'checkbox', name: key, checked: !!device[key], disabled: !editable }), label);
    const message = el('div', { class: 'message', id: 'drawer-pending-message', hidden: true });
    const form = el('form', { id: 'drawer-pending', class: 'pending-form', autocomplete: 'off' },
        box('isAutoUpdate', '强制升级（下次上报时升级，无论版本新旧）'),
        el('label', { class: 'field' }, el('span', { text: '配置指令（下次上报时下发，执行成功后清空）' }),
            el('input', { name: 'ConfigCmd', value: device.ConfigCmd || '', maxlength: '1400', disabled: !editable, placeholder: '无' })),
        el('fieldset', { class: 'checks' }, el('legend', { text: '请求终端上传文件' }), FILE_REQUESTS.map(([key, label]) => box(key, label))),
        editable ? el('div', { class: 'section-actions' },
            el('button', { class: 'btn btn-primary btn-small', type: 'submit', id: 'drawer-save', text: '保存待办' }),
            el('button', { class: 'btn btn-small', type: 'reset', text: '还原' })) : el('p', { class: 'hint', text: '只读账户不能修改待办请求。' }),
        message);
    form.addEventListener('input', () => { state.dirty = true; });
    form.addEventListener('reset', () => { state.dirty = false; });
    form.addEventListener('submit', (event) => {
        event.preventDefault();
        savePending(form, device, message);
    });
    return form;
}

async function savePending(form, device, message) {
    const changes = {};
    for (const [key] of [['isAutoUpdate'], ...FILE_REQUESTS]) {
        const on = form.elements[key].checked;
        if (on !== !!device[key]) changes[key] = on;
    }
    const command = form.elements.ConfigCmd.value.trim();
    if (command !== (device.ConfigCmd || '')) changes.ConfigCmd = command;
    if (Object.keys(changes).length === 0) {
        setMessage(message, 'info', '没有修改。');
        return;
    }
    const save = form.querySelector('[type=submit]');
    save.disabled = true;
    try {
        const result = await v2.editDevice(device.devSN, changes);
        state.dirty = false;
        state.detail = { ...state.detail, device: result.device };
        render();
        setMessage($('drawer-pending-message'), 'success', '已保存，终端下次上报时执行。');
        document.dispatchEvent(new CustomEvent('device-changed', { detail: result.device }));
    } catch (err) {
        save.disabled = false;
        setMessage(message, 'error', `保存失败：${err.message}`);
    }
}

async function releasePin(devSN, message) {
    const ok = await confirmAction({
        title: '解除设备ID绑定',
        body: `序列号 ${devSN} 将不再只认当前的设备ID：它下次上报时所带的设备ID会被绑定。只在终端确实更换了主机时这样做。`,
        confirmText: '解除绑定',
        danger: true,
    });
    if (!ok) return;
    try {
        await v2.releasePin(devSN);
        // The identity section then says the pin is gone.
        await load();
    } catch (err) {
        setMessage(message, 'error', `解除绑定失败：${err.message}`);
    }
}

registerDeviceSection({
    id: 'upgrades',
    title: '升级记录',
    render: ({ upgrades, upgradeCount }) => {
        if (!upgrades.length) return el('p', { class: 'muted', text: '没有升级记录。' });
        const rows = upgrades.map((a) => el('tr', { dataset: { state: a.state } },
            el('td', { text: a.packageName || '—' }),
            el('td', { class: 'mono', text: a.fromAppVersion || '—' }),
            el('td', { class: 'nowrap', text: formatEpoch(a.startedAt) }),
            el('td', { class: 'num', text: `${a.lastProgress}%` }),
            el('td', {}, el('span', { class: `pill pill-${a.state}`, text: ATTEMPT_STATES[a.state] || a.state })),
            el('td', { class: 'nowrap', text: completedAt(a) ? formatEpoch(completedAt(a)) : '—' })));
        return el('div', {},
            upgradeCount > upgrades.length ? el('p', { class: 'hint', text: `共 ${upgradeCount} 次，显示最近 ${upgrades.length} 次。` }) : null,
            el('div', { class: 'table-wrap' }, el('table', { class: 'data-table', id: 'drawer-upgrades' },
                el('thead', {}, el('tr', {}, ['升级包', '原 APP 版本', '开始时间', '进度', '状态', '完成时间'].map((t) => el('th', { text: t })))),
                el('tbody', {}, rows))));
    },
});

registerDeviceSection({
    id: 'files',
    title: '终端上传的文件',
    render: ({ files }) => {
        if (!files.length) return el('p', { class: 'muted', text: '终端还没有上传过文件。可在“待办请求”中请求上传。' });
        const when = (t) => (/^\d{12}$/.test(t) ? `${t.slice(0, 4)}-${t.slice(4, 6)}-${t.slice(6, 8)} ${t.slice(8, 10)}:${t.slice(10)}` : t);
        return el('div', { class: 'table-wrap' }, el('table', { class: 'data-table', id: 'drawer-files' },
            el('thead', {}, el('tr', {}, ['类型', '文件名', '大小', '请求时间', ''].map((t) => el('th', { text: t })))),
            el('tbody', {}, files.map((f) => el('tr', { dataset: { name: f.name } },
                el('td', { text: FILE_TYPES[f.type] || f.type }),
                el('td', { class: 'mono', text: f.name }),
                el('td', { class: 'num nowrap', text: formatBytes(f.size) }),
                el('td', { class: 'nowrap', text: when(f.reportTime) }),
                el('td', {}, el('a', { class: 'btn btn-small', href: f.download, download: f.name, text: '下载' })))))));
    },
});

// The terminal's timeline, newest first, a page at a time; fetched beside the document, so each
// refresh of the drawer shows the page it had until the newer one arrives.
const TIMELINE_PAGE = 20;
const EVENT_NAMES = {
    connected: '上线', disconnected: '断开连接', registered: '首次登记', reported: '上报变化', decided: '升级判定',
    command_set: '操作员修改待办', command_sent: '下发配置指令', command_result: '终端回复指令',
    file_requested: '请求上传文件', file_arrived: '收到文件', upgrade_started: '开始升级',
    upgrade_completed: '终端报告升级完成', upgrade_outcome: '升级结果', pinned: '绑定设备ID', pin_released: '解除设备ID绑定',
};
const timeline = { devSN: null, offset: 0, page: null, ticket: 0 };

function eventDetail(event) {
    if (event.kind === 'decided') {
        const [code, ...rest] = event.detail.split(': ');
        return [reasonName(code), ...rest].join('：');
    }
    if (event.kind === 'command_result') {
        const [code, ...text] = event.detail.split(' ');
        return `${code === '0' ? '执行成功' : `执行失败（结果码 ${code}），下次上报时重发`}${text.join(' ') ? `：${text.join(' ')}` : ''}`;
    }
    return event.detail;
}

// What became of the newest command: sent, when, and the terminal's answer.
function commandFeedback(events) {
    const last = events.find((e) => e.kind === 'command_sent' || e.kind === 'command_result');
    if (!last) return null;
    const ok = last.kind === 'command_result' && last.detail.startsWith('0 ');
    const text = last.kind === 'command_sent'
        ? `指令“${last.detail}”已于 ${formatEpoch(Date.parse(last.time) / 1000)} 下发，等待终端回复`
        : `终端于 ${formatEpoch(Date.parse(last.time) / 1000)} 回复：${eventDetail(last)}`;
    return el('div', { class: `message message-${ok ? 'success' : last.kind === 'command_sent' ? 'info' : 'error'}`, id: 'drawer-command-feedback', text });
}

function timelineBody(box) {
    const page = timeline.page;
    if (!page) return;
    const pager = el('div', { class: 'section-actions' },
        el('button', { class: 'btn btn-small', type: 'button', text: '较新', disabled: timeline.offset === 0, onclick: () => loadTimeline(box, timeline.offset - TIMELINE_PAGE) }),
        el('span', { class: 'muted', text: page.total ? `第 ${timeline.offset + 1}–${timeline.offset + page.events.length} 条，共 ${page.total} 条（保留最近 200 条）` : '' }),
        el('button', { class: 'btn btn-small', type: 'button', text: '较早', disabled: timeline.offset + page.events.length >= page.total, onclick: () => loadTimeline(box, timeline.offset + TIMELINE_PAGE) }));
    box.replaceChildren(
        timeline.offset === 0 ? commandFeedback(page.events) : null,
        page.events.length ? el('div', { class: 'table-wrap' }, el('table', { class: 'data-table', id: 'drawer-timeline' },
            el('tbody', {}, page.events.map((e) => el('tr', { dataset: { kind: e.kind } },
                el('td', { class: 'nowrap', text: formatEpoch(Date.parse(e.time) / 1000) }),
                el('td', { class: 'nowrap', text: EVENT_NAMES[e.kind] || e.kind }),
                el('td', { class: 'mono', text: eventDetail(e) })))))) : el('p', { class: 'muted', text: '还没有记录。' }),
        pager);
}

async function loadTimeline(box, offset) {
    const devSN = state.devSN;
    const ticket = ++timeline.ticket;
    try {
        const page = await v2.deviceEvents(devSN, { offset: Math.max(0, offset), limit: TIMELINE_PAGE });
        if (ticket !== timeline.ticket || devSN !== state.devSN) return;
        Object.assign(timeline, { devSN, offset: Math.max(0, offset), page });
        timelineBody(box.isConnected ? box : document.getElementById('drawer-timeline-box') || box);
    } catch (err) {
        if (ticket === timeline.ticket) box.replaceChildren(el('div', { class: 'message message-error', text: `读取记录失败：${err.message}` }));
    }
}

registerDeviceSection({
    id: 'timeline',
    title: '事件记录',
    render: ({ device }) => {
        const box = el('div', { id: 'drawer-timeline-box' });
        if (timeline.devSN !== device.devSN) Object.assign(timeline, { devSN: device.devSN, offset: 0, page: null });
        timelineBody(box);
        loadTimeline(box, timeline.offset);
        return box;
    },
}, { before: 'upgrades' });

function render() {
    const body = $('drawer-body');
    const detail = state.detail;
    const device = detail.device;
    $('drawer-title').textContent = device.devSN;
    $('drawer-subtitle').textContent = [device.devType, device.LicensePlateNumber, device.online ? '在线' : '离线'].filter(Boolean).join(' · ');
    for (const section of sections) {
        let box = body.querySelector(`:scope > [data-section="${section.id}"]`);
        if (!box) {
            box = el('section', { class: 'drawer-section', dataset: { section: section.id }, 'aria-labelledby': `drawer-h-${section.id}` });
            body.append(box);
        }
        if (section.keepWhileEditing && state.dirty && box.childElementCount) continue;
        const keepFocus = box.contains(document.activeElement) ? document.activeElement.name || document.activeElement.id : null;
        box.replaceChildren(el('h3', { id: `drawer-h-${section.id}`, text: section.title }), section.render(detail));
        if (keepFocus) {
            const again = box.querySelector(`[name="${keepFocus}"], #${CSS.escape(keepFocus)}`);
            if (again) again.focus();
        }
    }
}

async function load() {
    const ticket = ++state.ticket;
    const devSN = state.devSN;
    try {
        const detail = await v2.device(devSN);
        if (ticket !== state.ticket || devSN !== state.devSN) return;
        state.detail = detail;
        $('drawer-error').hidden = true;
        render();
    } catch (err) {
        if (ticket !== state.ticket) return;
        setMessage($('drawer-error'), 'error', `读取设备失败：${err.message}`);
    }
}

export async function openDevice(devSN, opener = null) {
    const dialog = $('device-drawer');
    clearInterval(state.timer);
    state.devSN = devSN;
    state.opener = opener;
    state.dirty = false;
    state.detail = null;
    $('drawer-title').textContent = devSN;
    $('drawer-subtitle').textContent = '正在读取…';
    $('drawer-body').replaceChildren();
    if (!dialog.open) dialog.showModal();
    $('drawer-close').focus();
    await load();
    // Presence and progress move while the drawer is open.
    state.timer = setInterval(() => { if (dialog.open) load(); }, REFRESH_MS);
}

export function initDrawer() {
    const dialog = $('device-drawer');
    $('drawer-close').addEventListener('click', () => dialog.close());
    // A click on the backdrop (outside the panel) closes it too.
    dialog.addEventListener('click', (event) => {
        if (event.target === dialog) dialog.close();
    });
    dialog.addEventListener('close', () => {
        clearInterval(state.timer);
        state.devSN = null;
        ++state.ticket;
        const opener = state.opener;
        if (opener && opener.isConnected) opener.focus({ preventScroll: true });
    });
}

export function drawerDevice() {
    return state.devSN;
}
