// The rollout view's failed terminals: those whose upgrade to the package failed and never
// succeeded, with their last attempt, exportable as CSV; the ones held back at the retry limit
// released one by one or all at once, behind a confirmation.
import { attachmentName, request, v2 } from './api.js';
import { formatEpoch } from './clock.js';
import { openDevice } from './drawer.js';
import { ATTEMPT_RESULTS } from './names.js';
import { refreshRollout, registerRolloutSection } from './rollout.js';
import { allows } from './session.js';
import { confirmAction, el, formatClock, notifyError, setMessage } from './ui.js';

const PAGE = 50;
const shown = { id: null, offset: 0, note: null };

async function release(id, devSN, held) {
    const ok = await confirmAction({
        title: devSN ? `放行终端 ${devSN}` : `放行全部 ${held} 台扣留的终端`,
        body: `${devSN ? '此终端' : '这些终端'}下次上报时将再次获得升级包；此后再有同样多次安装未生效，会再次被扣留。`,
        confirmText: '放行',
    });
    if (!ok) return;
    try {
        const done = await v2.releaseHeld(id, devSN ? { devSN } : { all: true });
        shown.note = { kind: 'success', text: `已放行 ${done.released} 台终端（${formatClock()}）。` };
    } catch (err) {
        shown.note = { kind: 'error', text: `放行失败：${err.message}` };
    }
    refreshRollout();
}

// Fetched with the session's credentials, then handed to the browser as a file.
async function exportCsv(id) {
    try {
        const response = await request('GET', v2.failedCsvUrl(id));
        const link = el('a', { href: URL.createObjectURL(await response.blob()), download: attachmentName(response, 'failed.csv') });
        link.click();
        URL.revokeObjectURL(link.href);
    } catch (err) {
        notifyError('导出升级失败的终端', err);
    }
}

function row(item, id, operator) {
    const last = item.last;
    return el('tr', { dataset: { sn: item.devSN } },
        el('td', {}, el('button', { type: 'button', class: 'link-strong', text: item.devSN, onclick: (e) => openDevice(item.devSN, e.target) })),
        el('td', { class: 'num', text: String(item.attempts) }),
        el('td', { class: 'num', text: String(item.notTaken) }),
        el('td', { 'data-col': 'result', text: last.result ? ATTEMPT_RESULTS[last.result] || last.result : '进行中' }),
        el('td', { class: 'nowrap', text: formatEpoch(last.startedAt) }),
        el('td', {}, item.held ? el('span', { class: 'pill pill-warn', text: '已扣留' }) : el('span', { class: 'muted', text: '—' }),
            item.held && operator ? el('button', { class: 'btn btn-small', type: 'button', 'data-release': item.devSN, text: '放行', onclick: () => release(id, item.devSN, 1) }) : null));
}

function turn(by) {
    shown.offset = Math.max(0, shown.offset + by);
    refreshRollout();
}

registerRolloutSection({
    id: 'failed',
    title: '升级失败的终端',
    load: async (ctx) => {
        if (shown.id !== ctx.id) Object.assign(shown, { id: ctx.id, offset: 0, note: null });
        ctx.failed = await v2.failed(ctx.id, { offset: shown.offset, limit: PAGE });
    },
    render: (ctx) => {
        const f = ctx.failed;
        const operator = allows('operator');
        const box = el('div', { class: 'message', id: 'failed-message', hidden: true });
        if (shown.note) setMessage(box, shown.note.kind, shown.note.text);
        const limit = f.retryLimit ? `安装未生效 ${f.retryLimit} 次的终端被扣留，待放行后再获得升级包。` : '没有重试上限。';
        const last = Math.min(f.total, shown.offset + f.items.length);
        return el('div', { id: 'rollout-failed' },
            el('p', { class: 'muted' }, `升级包 “${f.packageName}” 有 `, el('b', { id: 'failed-total', text: String(f.total) }), ` 台终端升级失败且未成功过，其中 ${f.held} 台已扣留。${limit}`),
            el('div', { class: 'section-actions' },
                el('button', { class: 'btn btn-small', type: 'button', id: 'failed-export', text: '导出 CSV', onclick: () => exportCsv(ctx.id) }),
                operator && f.held ? el('button', { class: 'btn btn-small', type: 'button', id: 'failed-release-all', text: `放行全部 ${f.held} 台扣留的终端`, onclick: () => release(ctx.id, '', f.held) }) : null),
            box,
            f.items.length ? el('div', { class: 'table-wrap' }, el('table', { class: 'data-table', id: 'failed-table' },
                el('thead', {}, el('tr', {}, ['序列号', '尝试', '安装未生效', '最后结果', '最后开始', '重试上限'].map((t, i) => el('th', { class: i === 1 || i === 2 ? 'num' : undefined, text: t })))),
                el('tbody', {}, f.items.map((item) => row(item, ctx.id, operator))))) : null,
            f.total > PAGE ? el('div', { class: 'pager' }, el('span', { class: 'muted', text: `第 ${shown.offset + 1}–${last} 台，共 ${f.total} 台` }),
                el('button', { class: 'btn btn-small', type: 'button', text: '上一页', disabled: shown.offset === 0, onclick: () => turn(-PAGE) }),
                el('button', { class: 'btn btn-small', type: 'button', text: '下一页', disabled: last >= f.total, onclick: () => turn(PAGE) })) : null);
    },
}, { before: 'live' });
