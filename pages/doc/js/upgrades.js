// Upgrades page: the progress of every terminal that reports it, refreshed by itself, and the
// action that clears every forced-upgrade flag.
import { api } from './api.js';
import { el, confirmAction, formatClock, notify, notifyError, progressBar, setMessage } from './ui.js';
import { reportService } from './service.js';
import { devicesPage } from './devices.js';

const POLL_MS = 2000;
const state = { timer: null, active: false, busy: false, pollFailed: false, details: new Map() };

// The progress list carries only the serial number; type and plate come from the list of
// upgrading devices, asked for only when a serial number is new to the page.
async function loadDetails(list) {
    if (!list.some((p) => !state.details.has(p.deviceId))) return;
    try {
        const doc = await api.uploadStatusList();
        for (const d of doc.list) state.details.set(d.deviceNo, d);
        for (const p of list) if (!state.details.has(p.deviceId)) state.details.set(p.deviceId, null);
    } catch {
        // The bars matter more than the details; the next new serial number asks again.
    }
}

function render(list) {
    const stats = document.getElementById('upgrades-stats');
    const done = list.filter((p) => p.progress >= 100).length;
    stats.replaceChildren(
        el('div', { class: 'stat' }, el('div', { class: 'stat-value', id: 'stat-reporting', text: String(list.length) }), el('div', { class: 'stat-label', text: '上报进度的终端' })),
        el('div', { class: 'stat' }, el('div', { class: 'stat-value', text: String(list.length - done) }), el('div', { class: 'stat-label', text: '升级中' })),
        el('div', { class: 'stat stat-ok' }, el('div', { class: 'stat-value', text: String(done) }), el('div', { class: 'stat-label', text: '已完成' })),
        el('div', { class: 'stat stat-muted' }, el('div', { class: 'stat-value small', text: formatClock() }), el('div', { class: 'stat-label', text: '最近刷新' })));
    const ul = document.getElementById('progress-list');
    if (list.length === 0) {
        ul.replaceChildren(el('li', { class: 'empty', text: '当前没有终端上报升级进度' }));
        return;
    }
    ul.replaceChildren(...list.map((p) => {
        const pct = Math.max(0, Math.min(100, Number(p.progress) || 0));
        return el('li', { class: `progress-item${pct >= 100 ? ' done' : ''}`, dataset: { sn: p.deviceId } },
            el('div', { class: 'progress-sn' }, el('span', { class: 'strong', text: p.deviceId }), el('span', { class: 'muted', text: describeDevice(p.deviceId) })),
            progressBar(pct, `${p.deviceId} 升级进度`),
            el('div', { class: 'progress-pct' }, pct >= 100 ? el('span', { class: 'pill pill-ok', text: '已完成' }) : null, el('b', { class: 'pct', text: `${pct}%` })));
    }));
}

function describeDevice(sn) {
    const d = state.details.get(sn);
    if (!d) return '设备序列号';
    return [d.deviceType, d.plateNo, d.AppVersion && `APP ${d.AppVersion}`].filter(Boolean).join(' · ') || '设备序列号';
}

async function poll() {
    if (state.busy) return;
    state.busy = true;
    try {
        const doc = await api.progressList();
        reportService(true);
        if (state.pollFailed) setMessage(document.getElementById('upgrades-message'), 'info', '');
        state.pollFailed = false;
        await loadDetails(doc.list);
        render(doc.list);
    } catch (err) {
        reportService(false, err);
        state.pollFailed = true;
        setMessage(document.getElementById('upgrades-message'), 'error', `读取升级进度失败：${err.message}`);
    } finally {
        state.busy = false;
    }
}

function restart() {
    clearInterval(state.timer);
    state.timer = null;
    if (state.active && document.getElementById('upgrades-live').checked) state.timer = setInterval(poll, POLL_MS);
}

async function stopAll() {
    const ok = await confirmAction({
        title: '停止全部强制升级',
        body: '将清除所有设备的“是否自动升级”（强制升级）标记，终端下次上报时不再被强制升级。已经开始的下载不会中断。确定吗？',
        confirmText: '停止全部强制升级',
        danger: true,
    });
    if (!ok) return;
    const message = document.getElementById('upgrades-message');
    try {
        await api.stopUpload();
        devicesPage.invalidatePending();
        setMessage(message, 'success', `已清除所有设备的强制升级标记（${formatClock()}）。`);
        notify('success', '已停止全部强制升级');
    } catch (err) {
        const hint = err.kind === 'http' && err.status === 501 ? '（设备表为空时也会如此）' : '';
        setMessage(message, 'error', `停止全部强制升级失败：${err.message}${hint}`);
        notifyError('停止全部强制升级', err);
    }
}

export function initUpgrades() {
    document.getElementById('stop-upload').addEventListener('click', stopAll);
    document.getElementById('upgrades-live').addEventListener('change', restart);
}

export const upgradesPage = {
    activate() {
        state.active = true;
        setMessage(document.getElementById('upgrades-message'), 'info', '');
        poll();
        restart();
    },
    deactivate() {
        state.active = false;
        restart();
    },
};
