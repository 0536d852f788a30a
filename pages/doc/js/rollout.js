// Rollout view: one package's terminals counted by state, the terminals of a state on demand,
// and the downloads under way, refreshed by themselves. The view is a list of sections, each
// drawn from the same context, so that further concerns are added with registerRolloutSection.
import { v2 } from './api.js';
import { formatAgo, formatEpoch } from './clock.js';
import { openDevice } from './drawer.js';
import { ROLLOUT_STATES, VERSION_NAMES, heldMeaning } from './names.js';
import { reportService } from './service.js';
import { el, formatBytes, formatClock, progressBar, setMessage } from './ui.js';

const POLL_MS = 3000;
const DRILL_PAGE = 50;
const state = { packages: [], id: null, active: false, timer: 0, busy: false, again: false, drill: null, counts: null, live: null };
const sections = [];
const $ = (id) => document.getElementById(id);

// A section: { id, title, load(ctx) -> Promise (optional), render(ctx) -> Node }. Every load of
// one refresh, then every render, gets the same ctx: { id, counts (GET .../rollout) } and what
// the loads put there. `before` names the section it goes in front of; without it, last.
export function registerRolloutSection(section, { before } = {}) {
    const at = before ? sections.findIndex((s) => s.id === before) : -1;
    if (at < 0) sections.push(section);
    else sections.splice(at, 0, section);
}

const stateName = (key) => (ROLLOUT_STATES.find(([k]) => k === key) || [key, key])[1];

registerRolloutSection({
    id: 'counts',
    title: '终端状态',
    load: async (ctx) => { state.counts = ctx.counts = await v2.rollout(ctx.id); },
    render: () => {
        const c = state.counts;
        const total = c.total || 0;
        const cards = ROLLOUT_STATES.map(([key, name, hint]) => {
            const n = c.counts[key] || 0;
            const open = state.drill && state.drill.state === key;
            return el('button', {
                type: 'button', class: `stat stat-button stat-${key}${open ? ' stat-open' : ''}`, dataset: { state: key },
                'aria-pressed': open ? 'true' : 'false', title: key === 'held' ? heldMeaning(c) : hint, onclick: () => drill(key),
            }, el('span', { class: 'stat-value', text: String(n) }), el('span', { class: 'stat-label', text: name }));
        });
        const segments = ROLLOUT_STATES.filter(([key]) => c.counts[key]).map(([key, name]) => el('span', {
            class: `stack-seg stat-${key}`, style: `flex-grow:${c.counts[key]}`, title: `${name} ${c.counts[key]}`,
        }));
        return el('div', {},
            el('p', { class: 'muted' }, `型号 ${c.package.deviceType} 的终端共 `, el('b', { id: 'rollout-total', text: String(total) }), ' 台',
                c.manualMode ? el('span', { class: 'warn-text', text: '；服务处于手动模式：只有标记了强制升级的终端会升级' }) : null),
            c.counts.held ? el('p', { class: 'muted', id: 'rollout-held-meaning', text: `“暂缓”计数：${heldMeaning(c)}。` }) : null,
            el('div', { class: 'stack', role: 'img', 'aria-label': '各状态终端所占比例' }, segments),
            el('div', { class: 'rollout-grid', id: 'rollout-counts' }, cards));
    },
});

registerRolloutSection({
    id: 'live',
    title: '正在下载',
    load: async (ctx) => { state.live = await v2.upgrades({ packageId: ctx.id, state: 'running', limit: 100 }); },
    render: () => {
        const items = state.live.items;
        if (!items.length) return el('p', { class: 'muted', id: 'rollout-live-empty', text: '当前没有终端在下载此升级包。' });
        return el('ul', { class: 'progress-list', id: 'rollout-live' }, items.map((a) => el('li', { class: 'progress-item', dataset: { sn: a.devSN } },
            el('div', { class: 'progress-sn' }, el('button', { type: 'button', class: 'link-strong', text: a.devSN, onclick: (e) => openDevice(a.devSN, e.target) }),
                el('span', { class: 'muted', text: `开始于 ${formatEpoch(a.startedAt)}` })),
            progressBar(a.lastProgress, `${a.devSN} 升级进度`),
            el('div', { class: 'progress-pct' }, el('b', { class: 'pct', text: `${a.lastProgress}%` }),
                el('span', { class: 'muted', text: a.lastProgressAt ? formatAgo(a.lastProgressAt) : '' })))),
        state.live.total > items.length ? el('li', { class: 'empty', text: `另有 ${state.live.total - items.length} 台未列出` }) : null);
    },
});

registerRolloutSection({
    id: 'drill',
    title: '终端列表',
    load: async (ctx) => {
        if (!state.drill) return;
        const d = state.drill;
        d.page = await v2.rolloutState(ctx.id, d.state, { offset: d.offset, limit: DRILL_PAGE });
    },
    render: () => {
        if (!state.drill) return el('p', { class: 'muted', text: '点击上方的状态，列出处于该状态的终端。' });
        const d = state.drill;
        if (!d.page) return el('p', { class: 'muted', text: '正在读取…' });
        const p = d.page;
        const last = Math.min(p.total, d.offset + p.items.length);
        const rows = p.items.map((r) => el('tr', { dataset: { key: r.devSN }, tabindex: '0', class: 'clickable',
            onclick: (e) => openDevice(r.devSN, e.currentTarget),
            onkeydown: (e) => {
                if (e.key !== 'Enter') return;
                // Else the same key press would go on to the drawer's close button.
                e.preventDefault();
                openDevice(r.devSN, e.currentTarget);
            } },
        el('td', { class: 'strong', text: r.devSN }),
        el('td', { text: r.LicensePlateNumber || '—' }),
        el('td', {}, el('span', { class: `presence ${r.online ? 'presence-on' : 'presence-off'}`, text: r.online ? '在线' : '离线' })),
        el('td', { class: 'mono', text: r.AppVersion || '—' }),
        el('td', {}, r.isAutoUpdate ? el('span', { class: 'tag tag-force', text: '强制升级' }) : el('span', { class: 'muted', text: '—' })),
        el('td', { class: 'nowrap', text: r.LastReportTime ? formatEpoch(r.LastReportTime) : '从未上报' })));
        return el('div', {},
            el('h3', { id: 'rollout-drill-title', text: `${stateName(d.state)}：${p.total} 台` }),
            el('div', { class: 'table-wrap' }, el('table', { class: 'data-table', id: 'rollout-drill-table' },
                el('thead', {}, el('tr', {}, ['序列号', '车牌号', '在线', 'APP版本', '待办', '最近上报'].map((t) => el('th', { text: t })))),
                el('tbody', {}, rows.length ? rows : el('tr', { class: 'empty-row' }, el('td', { colspan: '6', text: '没有终端处于此状态' }))))),
            el('div', { class: 'pager' }, el('span', { class: 'muted', text: p.total ? `第 ${d.offset + 1}–${last} 台，共 ${p.total} 台` : '' }),
                el('button', { class: 'btn btn-small', type: 'button', text: '上一页', disabled: d.offset === 0, onclick: () => turn(-DRILL_PAGE) }),
                el('button', { class: 'btn btn-small', type: 'button', text: '下一页', disabled: last >= p.total, onclick: () => turn(DRILL_PAGE) })));
    },
});

function focusKey(node) {
    for (const attr of ['key', 'state', 'sn']) {
        if (node.dataset[attr] !== undefined) return { selector: `[data-${attr}="${CSS.escape(node.dataset[attr])}"]`, text: '' };
    }
    return { selector: node.tagName.toLowerCase(), text: node.textContent };
}

function drill(key) {
    state.drill = state.drill && state.drill.state === key ? null : { state: key, offset: 0, page: null };
    refresh();
}

function turn(delta) {
    state.drill.offset = Math.max(0, state.drill.offset + delta);
    refresh();
}

function renderPackages() {
    const list = $('rollout-packages');
    if (!state.packages.length) {
        list.replaceChildren(el('p', { class: 'muted', text: '还没有升级包。上传升级包后，可在这里查看它的发布情况。' }));
        return;
    }
    list.replaceChildren(...state.packages.map((p) => el('a', {
        class: `package-tab${p.id === state.id ? ' package-tab-on' : ''}`, href: `#/rollout/${p.id}`, dataset: { id: String(p.id) },
        'aria-current': p.id === state.id ? 'true' : undefined,
    }, el('b', { text: p.deviceType }), el('span', { class: 'muted', text: p.packageName }))));
}

function renderHeader(pkg) {
    const versions = Object.entries(VERSION_NAMES).filter(([key]) => pkg[key]).map(([key, name]) => `${name} ${pkg[key]}`).join(' · ');
    $('rollout-head').replaceChildren(
        el('div', {}, el('h2', { id: 'rollout-name', text: pkg.packageName }),
            el('p', { class: 'muted', text: `型号 ${pkg.deviceType} · ${formatBytes(pkg.size)} · 上传于 ${formatEpoch(pkg.uploadTime)}` }),
            el('p', { class: 'mono', text: versions || '未填写版本' })),
        el('div', { class: 'head-actions' },
            pkg.fileExists ? el('a', { class: 'btn', id: 'rollout-download', href: pkg.download, download: pkg.packageName, text: '下载升级包' })
                : el('span', { class: 'error-text', text: '升级包文件已不在服务器上' }),
            el('span', { class: 'muted', id: 'rollout-updated', text: `更新于 ${formatClock()}` })));
}

// Now, or right after the refresh under way (an action's result must not wait for the next poll).
export function refreshRollout() {
    if (state.busy) state.again = true;
    else refresh();
}

async function refresh() {
    if (!state.active || state.busy || !state.id) return;
    state.busy = true;
    state.again = false;
    const id = state.id;
    const ctx = { id };
    try {
        await Promise.all(sections.filter((s) => s.load).map((s) => s.load(ctx)));
        reportService(true);
        if (id !== state.id) return;
        setMessage($('rollout-message'), '', '');
        renderHeader(state.counts.package);
        const body = $('rollout-sections');
        // Redrawing every few seconds must not take the keyboard's place away.
        const focused = body.contains(document.activeElement) ? focusKey(document.activeElement) : null;
        for (const section of sections) {
            let box = body.querySelector(`:scope > [data-section="${section.id}"]`);
            if (!box) {
                box = el('section', { class: 'card', dataset: { section: section.id } });
                body.append(box);
            }
            box.replaceChildren(section.id === 'drill' ? '' : el('h2', { text: section.title }), section.render(ctx));
        }
        if (focused) {
            const again = [...body.querySelectorAll(focused.selector)].find((node) => focusKey(node).text === focused.text);
            if (again) again.focus({ preventScroll: true });
        }
    } catch (err) {
        reportService(false, err);
        setMessage($('rollout-message'), 'error', `读取发布情况失败：${err.message}`);
    } finally {
        state.busy = false;
        if (state.again) refresh();
    }
}

function idFromHash() {
    const match = /^#\/rollout\/(\d+)/.exec(location.hash);
    return match ? Number(match[1]) : null;
}

async function route() {
    try {
        state.packages = (await v2.packages()).items.sort((a, b) => a.deviceType.localeCompare(b.deviceType));
    } catch (err) {
        setMessage($('rollout-message'), 'error', `读取升级包失败：${err.message}`);
        return;
    }
    const wanted = idFromHash();
    const next = state.packages.some((p) => p.id === wanted) ? wanted : state.packages[0] && state.packages[0].id;
    if (next !== state.id) {
        state.id = next || null;
        state.drill = null;
        $('rollout-sections').replaceChildren();
        $('rollout-head').replaceChildren();
    }
    renderPackages();
    await refresh();
}

export const rolloutPage = {
    activate() {
        state.active = true;
        route();
        clearInterval(state.timer);
        state.timer = setInterval(refresh, POLL_MS);
    },
    reroute: route,
    deactivate() {
        state.active = false;
        clearInterval(state.timer);
    },
};
