// Upgrades page: every upgrade attempt, under way or finished, stalled or superseded, kept after
// the terminal disconnects or reconnects; refreshed by itself. And the action that clears every
// forced-upgrade flag.
import { api, v2 } from './api.js';
import { formatAgo, formatEpoch } from './clock.js';
import { openDevice, ATTEMPT_STATES, completedAt } from './drawer.js';
import { reportService } from './service.js';
import { confirmAction, el, formatClock, notifyError, progressBar, setMessage } from './ui.js';
import { devicesPage } from './devices.js';
import { ATTEMPT_RESULTS } from './names.js';

const POLL_MS = 2000;
const PAGE = 50;
const state = { timer: null, active: false, busy: false, filter: '', result: '', query: {}, offset: 0, pollFailed: false };
const $ = (id) => document.getElementById(id);

function stat(id, value, label, cls = '') {
    return el('div', { class: `stat ${cls}` }, el('div', { class: 'stat-value', id, text: String(value) }), el('div', { class: 'stat-label', text: label }));
}

function render(page, totals) {
    $('upgrades-stats').replaceChildren(
        stat('stat-reporting', totals.running, '升级中'),
        stat('stat-stalled', totals.stalled, '已停滞', totals.stalled ? 'stat-warn' : ''),
        stat('stat-completed', totals.completed, '已完成', 'stat-ok'),
        stat('stat-reverted', totals.reverted, '安装未生效', totals.reverted ? 'stat-warn' : ''),
        el('div', { class: 'stat stat-muted' }, el('div', { class: 'stat-value small', text: formatClock() }), el('div', { class: 'stat-label', text: '最近刷新' })));
    const tbody = $('upgrades-table').tBodies[0];
    if (!page.items.length) {
        tbody.replaceChildren(el('tr', { class: 'empty-row' }, el('td', { colspan: '8', text: state.filter || state.result || Object.keys(state.query).length ? '没有符合条件的升级记录' : '还没有升级记录' })));
    } else {
        tbody.replaceChildren(...page.items.map((a) => {
            const pct = Math.max(0, Math.min(100, Number(a.lastProgress) || 0));
            return el('tr', { dataset: { sn: a.devSN, state: a.state }, class: `attempt-${a.state}` },
                el('td', {}, el('button', { type: 'button', class: 'link-strong', text: a.devSN, onclick: (e) => openDevice(a.devSN, e.target) })),
                el('td', { text: a.devType || '—' }),
                el('td', { text: a.packageName || '—' }),
                el('td', { class: 'mono', text: a.fromAppVersion || '—' }),
                el('td', { class: 'progress-col' }, el('span', { class: 'inline-progress' }, progressBar(pct, `${a.devSN} 升级进度`), el('span', { class: 'pct', text: `${pct}%` }))),
                el('td', {}, el('span', { class: `pill pill-${a.state}`, text: ATTEMPT_STATES[a.state] || a.state }),
                    a.result ? el('span', { class: 'muted block', 'data-col': 'result', text: ATTEMPT_RESULTS[a.result] || a.result }) : null),
                el('td', { class: 'nowrap', text: formatEpoch(a.startedAt) }),
                el('td', { class: 'nowrap', text: completedAt(a) ? formatEpoch(completedAt(a)) : a.lastProgressAt ? `最近进度 ${formatAgo(a.lastProgressAt)}` : '—' }));
        }));
    }
    const last = Math.min(page.total, state.offset + page.items.length);
    $('upgrades-pager-text').textContent = page.total ? `第 ${state.offset + 1}–${last} 条，共 ${page.total} 条` : '';
    $('upgrades-prev').disabled = state.offset === 0;
    $('upgrades-next').disabled = last >= page.total;
}

async function poll() {
    if (state.busy) return;
    state.busy = true;
    try {
        const [page, running, stalled, completed, reverted] = await Promise.all([
            v2.upgrades({ ...state.query, state: state.filter, result: state.result, offset: state.offset, limit: PAGE }),
            v2.upgrades({ state: 'running', limit: 1 }),
            v2.upgrades({ state: 'stalled', limit: 1 }),
            v2.upgrades({ state: 'completed', limit: 1 }),
            v2.upgrades({ state: 'reverted', limit: 1 }),
        ]);
        reportService(true);
        if (state.pollFailed) setMessage($('upgrades-message'), 'info', '');
        state.pollFailed = false;
        render(page, { running: running.total, stalled: stalled.total, completed: completed.total, reverted: reverted.total });
    } catch (err) {
        reportService(false, err);
        state.pollFailed = true;
        setMessage($('upgrades-message'), 'error', `读取升级记录失败：${err.message}`);
    } finally {
        state.busy = false;
    }
}

// A date field's day as seconds since 1970 at the browser's midnight; after is the next day's.
function dayStart(value, after = false) {
    if (!value) return undefined;
    const [y, m, d] = value.split('-').map(Number);
    return Math.floor(new Date(y, m - 1, d + (after ? 1 : 0)).getTime() / 1000);
}

function readQuery() {
    const query = {
        devSNContains: $('upgrades-sn').value.trim(),
        devType: $('upgrades-type').value.trim(),
        packageId: $('upgrades-package').value,
        from: dayStart($('upgrades-from').value),
        to: dayStart($('upgrades-to').value, true),
    };
    return Object.fromEntries(Object.entries(query).filter(([, v]) => v !== undefined && v !== ''));
}

// The package choices, kept as chosen when the list is read again.
async function loadPackages() {
    const select = $('upgrades-package');
    const chosen = select.value;
    const { items } = await v2.packages();
    select.replaceChildren(el('option', { value: '', text: '全部' }),
        ...items.map((p) => el('option', { value: String(p.id), text: `${p.packageName}（${p.deviceType}）`, selected: String(p.id) === chosen })));
}

function restart() {
    clearInterval(state.timer);
    state.timer = null;
    if (state.active && $('upgrades-live').checked) state.timer = setInterval(poll, POLL_MS);
}

async function stopAll() {
    const ok = await confirmAction({
        title: '停止全部强制升级',
        body: '将清除所有设备的强制升级标记，终端下次上报时不再被强制升级。已经开始的下载不会中断。确定吗？',
        confirmText: '停止全部强制升级',
        danger: true,
    });
    if (!ok) return;
    const message = $('upgrades-message');
    try {
        await api.stopUpload();
        devicesPage.invalidate();
        setMessage(message, 'success', `已清除所有设备的强制升级标记（${formatClock()}）。`);
    } catch (err) {
        const hint = err.kind === 'http' && err.status === 501 ? '（设备表为空时也会如此）' : '';
        setMessage(message, 'error', `停止全部强制升级失败：${err.message}${hint}`);
        notifyError('停止全部强制升级', err);
    }
}

export function initUpgrades() {
    $('stop-upload').addEventListener('click', stopAll);
    $('upgrades-live').addEventListener('change', restart);
    for (const tab of document.querySelectorAll('#upgrades-tabs [data-state]')) {
        tab.addEventListener('click', () => {
            state.filter = tab.dataset.state;
            state.offset = 0;
            for (const t of document.querySelectorAll('#upgrades-tabs [data-state]')) t.setAttribute('aria-pressed', String(t === tab));
            poll();
        });
    }
    const result = $('upgrades-result');
    result.append(...Object.entries(ATTEMPT_RESULTS).map(([value, text]) => el('option', { value, text })));
    result.addEventListener('change', () => {
        state.result = result.value;
        state.offset = 0;
        poll();
    });
    $('upgrades-search').addEventListener('submit', (event) => {
        event.preventDefault();
        state.query = readQuery();
        state.offset = 0;
        poll();
    });
    $('upgrades-prev').addEventListener('click', () => {
        state.offset = Math.max(0, state.offset - PAGE);
        poll();
    });
    $('upgrades-next').addEventListener('click', () => {
        state.offset += PAGE;
        poll();
    });
}

export const upgradesPage = {
    activate() {
        state.active = true;
        setMessage($('upgrades-message'), 'info', '');
        loadPackages().catch(() => {});
        poll();
        restart();
    },
    deactivate() {
        state.active = false;
        restart();
    },
};
