// Dashboard page: the fleet at a glance. Versions per device type and component, terminals
// online over time, upgrades per day and each running rollout's progress, drawn by the chart
// library the service ships with the pages (loaded on first view, so the other pages never wait
// for it). The history comes from the service's periodic samples.
import { v2 } from './api.js';
import { reportService } from './service.js';
import { el, formatClock, setMessage } from './ui.js';
import { VERSION_NAMES } from './names.js';

const CHART_LIBRARY = '/doc/lib/chart.min.js';
const REFRESH_MS = 60000;
const COLORS = ['#1f6feb', '#2da44e', '#cf222e', '#bf8700', '#8250df', '#0a7b83', '#e16f24', '#6e7781'];
const state = { active: false, timer: 0, charts: [], data: null, devType: '', busy: false };
const $ = (id) => document.getElementById(id);

let library = null;
// The library's script, added once; resolves with its global.
function chartLibrary() {
    if (!library) {
        library = new Promise((resolve, reject) => {
            const script = el('script', { src: CHART_LIBRARY });
            script.onload = () => resolve(window.Chart);
            script.onerror = () => { library = null; reject(new Error('图表库无法加载')); };
            document.head.append(script);
        });
    }
    return library;
}

const timeLabel = (iso) => {
    const d = new Date(iso);
    const two = (n) => String(n).padStart(2, '0');
    return `${two(d.getMonth() + 1)}-${two(d.getDate())} ${two(d.getHours())}:${two(d.getMinutes())}`;
};

function chartCard(id, title, height = 240) {
    const canvas = el('canvas', { id, role: 'img', 'aria-label': title });
    return el('div', { class: 'card dashboard-chart' }, el('h2', { text: title }),
        el('div', { style: `position:relative;height:${height}px` }, canvas));
}

function draw(Chart, canvas, type, labels, datasets, options = {}) {
    state.charts.push(new Chart(canvas, {
        type,
        data: { labels, datasets },
        options: { responsive: true, maintainAspectRatio: false, animation: false, ...options },
    }));
}

const line = (label, data, color, extra = {}) => ({ label, data, borderColor: color, backgroundColor: color, pointRadius: 0, borderWidth: 2, ...extra });

// Per component a bar for each version: long version names stay readable.
function renderVersions(Chart, versions) {
    const perType = new Map();
    for (const v of versions) if (v.component === 'AppVersion') perType.set(v.devType, (perType.get(v.devType) || 0) + v.terminals);
    // The type with the most terminals first.
    const types = [...perType.keys()].sort((a, b) => perType.get(b) - perType.get(a) || a.localeCompare(b));
    if (!types.includes(state.devType)) state.devType = types[0] || '';
    const select = el('select', { id: 'dashboard-type', 'aria-label': '设备型号' },
        types.map((t) => el('option', { value: t, text: `${t || '（未报型号）'}（${perType.get(t)} 台）`, selected: t === state.devType })));
    select.addEventListener('change', () => { state.devType = select.value; render(); });
    const grid = el('div', { style: 'display:grid;grid-template-columns:repeat(auto-fill,minmax(240px,1fr));gap:8px 16px' });
    const card = el('div', { class: 'card' }, el('div', { class: 'page-head' }, el('h2', { text: '版本分布' }), select), grid);
    $('dashboard-charts').append(card);
    if (!types.length) {
        grid.append(el('p', { class: 'muted', text: '还没有终端。' }));
        return;
    }
    for (const [component, name] of Object.entries(VERSION_NAMES)) {
        const rows = versions.filter((v) => v.devType === state.devType && v.component === component);
        const canvas = el('canvas', { id: `dashboard-versions-${component}`, role: 'img', 'aria-label': name });
        grid.append(el('div', {}, el('h3', { text: name }), el('div', { style: `position:relative;height:${40 + 24 * rows.length}px` }, canvas)));
        draw(Chart, canvas, 'bar', rows.map((r) => (r.others ? '其他版本' : r.version || '（空）')),
            [{ label: '终端数', data: rows.map((r) => r.terminals), backgroundColor: rows.map((_, i) => COLORS[i % COLORS.length]) }],
            { indexAxis: 'y', plugins: { legend: { display: false } }, scales: { x: { beginAtZero: true, ticks: { precision: 0 } } } });
    }
}

async function render() {
    const data = state.data;
    let Chart;
    try {
        Chart = await chartLibrary();
    } catch (err) {
        setMessage($('dashboard-message'), 'error', err.message);
        return;
    }
    for (const chart of state.charts) chart.destroy();
    state.charts = [];
    const box = $('dashboard-charts');
    box.replaceChildren();
    $('dashboard-stats').replaceChildren(
        el('div', { class: 'stat' }, el('div', { class: 'stat-value', id: 'dashboard-online', text: String(data.terminals.online) }), el('div', { class: 'stat-label', text: '在线终端' })),
        el('div', { class: 'stat' }, el('div', { class: 'stat-value', id: 'dashboard-total', text: String(data.terminals.total) }), el('div', { class: 'stat-label', text: '终端总数' })),
        el('div', { class: 'stat' }, el('div', { class: 'stat-value', text: String(data.rollouts.length) }), el('div', { class: 'stat-label', text: '进行中的分阶段发布' })),
        el('div', { class: 'stat stat-muted' }, el('div', { class: 'stat-value small', text: formatClock() }), el('div', { class: 'stat-label', text: '最近刷新' })));

    const pair = el('div', { class: 'two-col' });
    box.append(pair);
    const online = chartCard('dashboard-online-chart', '在线终端（近 7 天）');
    pair.append(online);
    draw(Chart, online.querySelector('canvas'), 'line', data.online.map((p) => timeLabel(p.time)),
        [line('在线', data.online.map((p) => p.online), COLORS[0], { fill: true, backgroundColor: 'rgba(31,111,235,.15)' }),
            // Hidden until asked for in the legend: beside the fleet, the online line would be flat.
            line('总数', data.online.map((p) => p.total), COLORS[7], { hidden: true })],
        { scales: { y: { beginAtZero: true, ticks: { precision: 0 } } } });

    const days = chartCard('dashboard-upgrades-chart', '每日升级（近 7 天）');
    pair.append(days);
    draw(Chart, days.querySelector('canvas'), 'bar', data.upgradesPerDay.map((d) => d.day),
        [{ label: '开始', data: data.upgradesPerDay.map((d) => d.started), backgroundColor: COLORS[0] },
            { label: '成功', data: data.upgradesPerDay.map((d) => d.succeeded), backgroundColor: COLORS[1] },
            { label: '安装未生效', data: data.upgradesPerDay.map((d) => d.failed), backgroundColor: COLORS[2] }],
        { scales: { y: { beginAtZero: true, ticks: { precision: 0 } } } });

    if (!data.rollouts.length) box.append(el('div', { class: 'card' }, el('h2', { text: '分阶段发布进展' }), el('p', { class: 'muted', text: '没有进行中的分阶段发布。' })));
    for (const rollout of data.rollouts) {
        const card = chartCard(`dashboard-rollout-${rollout.packageId}`, `分阶段发布进展：${rollout.packageName}`);
        box.append(card);
        const points = rollout.points;
        draw(Chart, card.querySelector('canvas'), 'line', points.map((p) => timeLabel(p.time)),
            [line('已成功', points.map((p) => p.succeeded), COLORS[1]),
                line('已失败', points.map((p) => p.failed), COLORS[2]),
                line('已开放阶段的终端', points.map((p) => p.total), COLORS[7], { borderDash: [4, 4] })],
            { scales: { y: { beginAtZero: true, ticks: { precision: 0 } } } });
    }
    renderVersions(Chart, data.versions);
    $('page-dashboard').dataset.drawn = String(state.charts.length);
}

async function refresh() {
    if (state.busy) return;
    state.busy = true;
    try {
        state.data = await v2.dashboard({ days: 7, utcOffsetMinutes: -new Date().getTimezoneOffset() });
        reportService(true);
        $('dashboard-message').hidden = true;
        if (state.active) await render();
    } catch (err) {
        reportService(false, err);
        setMessage($('dashboard-message'), 'error', `读取失败：${err.message}`);
    } finally {
        state.busy = false;
    }
}

export const dashboardPage = {
    activate() {
        state.active = true;
        refresh();
        state.timer = setInterval(refresh, REFRESH_MS);
    },
    deactivate() {
        state.active = false;
        clearInterval(state.timer);
    },
};
