// Devices page: the whole fleet as one virtual list. The service pages, sorts, searches and
// filters; the page keeps only the rows near the view and draws only those on screen, and a
// refresh rewrites only the cells whose value changed, so the fleet's size does not matter.
import { v2 } from './api.js';
import { formatAgo, formatEpoch } from './clock.js';
import { openDevice } from './drawer.js';
import { reportService } from './service.js';
import { allows } from './session.js';
import { hashQuery, savedFilters, shownColumns } from './viewstore.js';
import { confirmAction, el, formatClock, notify, notifyError } from './ui.js';
import { downloadExport } from './exchange.js';
import { VERSION_NAMES } from './names.js';

const ROW_HEIGHT = 36;
const PAGE_SIZE = 100;
const OVERSCAN = 6;
const MAX_PAGES = 30;
const MAX_LOADS = 4;
const LIST_POLL_MS = 5000;
const PROGRESS_POLL_MS = 2000;
const SEARCH_DELAY_MS = 300;

const VERSION_COLUMNS = Object.entries(VERSION_NAMES);
const FILE_REQUESTS = [['GetLogFile', '日志'], ['GetIndexFile', '录像索引'], ['GetPrintFile', '打印'], ['GetRunInfoFile', '行车信息']];

const state = {
    generation: 0,
    total: 0,
    totalKnown: false,
    pages: new Map(), // page index -> rows
    loading: new Map(), // page index -> generation
    sort: { key: 'id', dir: 'asc' },
    filter: { q: '', devType: '', online: '', pending: '', upgradeState: '', versionColumn: 'AppVersion', versionOp: '', versionValue: '' },
    selected: new Set(),
    allMatching: false,
    running: new Map(), // devSN -> { progress, stalled }
    active: false,
    timers: [],
    pool: [],
    window: { first: 0, last: 0 },
    focusIndex: 0,
    frame: 0,
    error: null,
    types: new Set(),
    refreshing: false,
    polling: false,
    pollCount: 0,
    stalled: [],
    stalledTotal: 0,
    runningTotal: 0,
};

const text = (value) => (value === undefined || value === null ? '' : String(value));

// Each column: what identifies its content (sig) and how to draw it (paint), so that a cell is
// drawn again only when its sig changes.
function textColumn(key, title, width, extra = {}) {
    return { key, title, width, sort: key, sig: (r) => text(r[key]), paint: (td, r) => { td.textContent = text(r[key]); }, ...extra };
}

function upgradeOf(row) {
    const live = state.running.get(row.devSN);
    if (live) return live;
    return row.UpgradeCompletionTime ? { done: row.UpgradeCompletionTime } : null;
}

function pendingOf(row) {
    const tags = [];
    if (row.isAutoUpdate) tags.push(['force', '强制升级']);
    if (row.ConfigCmd) tags.push(['cmd', '配置指令']);
    for (const [key, label] of FILE_REQUESTS) if (row[key]) tags.push(['file', label]);
    return tags;
}

const COLUMNS = [
    {
        key: 'select', title: '', width: 36, sticky: 0, sort: null, fixed: true,
        sig: (r) => (isSelected(r.devSN) ? '1' : '0'),
        paint: (td, r) => {
            let box = td.firstElementChild;
            if (!box) {
                box = el('input', { type: 'checkbox', tabindex: '-1' });
                td.append(box);
            }
            box.checked = isSelected(r.devSN);
            box.setAttribute('aria-label', `选择 ${r.devSN}`);
        },
    },
    textColumn('devSN', '序列号', 140, { sticky: 36, cls: 'strong', fixed: true }),
    {
        key: 'online', title: '在线', width: 64, sort: 'online',
        sig: (r) => (r.online ? '1' : '0'),
        paint: (td, r) => {
            td.replaceChildren(el('span', { class: `presence ${r.online ? 'presence-on' : 'presence-off'}`, text: r.online ? '在线' : '离线' }));
        },
    },
    textColumn('devType', '型号', 80),
    textColumn('LicensePlateNumber', '车牌号', 96),
    textColumn('PhoneNumber', '手机号', 118, { hiddenFirst: true }),
    textColumn('AppVersion', 'APP版本', 132, { cls: 'mono' }),
    {
        key: 'upgrade', title: '升级', width: 160, sort: 'UpgradeCompletionTime',
        sig: (r) => {
            const u = upgradeOf(r);
            if (!u) return '';
            return u.done ? `d${u.done}` : `${u.stalled ? 's' : 'r'}${u.progress}`;
        },
        paint: (td, r) => {
            const u = upgradeOf(r);
            if (!u) {
                td.replaceChildren(el('span', { class: 'muted', dataset: { status: 'idle' }, text: '—' }));
            } else if (u.done) {
                td.replaceChildren(el('span', { dataset: { status: 'done' }, title: `升级完成于 ${formatEpoch(u.done)}` },
                    el('span', { class: 'pill pill-ok', text: '已完成' }), ' ', el('span', { class: 'muted', text: formatEpoch(u.done).slice(5, 16) })));
            } else {
                const pct = Math.max(0, Math.min(100, Number(u.progress) || 0));
                td.replaceChildren(el('span', { class: 'inline-progress', dataset: { status: u.stalled ? 'stalled' : 'upgrading' } },
                    el('span', { class: `bar${u.stalled ? ' bar-stalled' : ''}`, role: 'progressbar', 'aria-valuemin': '0', 'aria-valuemax': '100', 'aria-valuenow': String(pct), 'aria-label': `${r.devSN} 升级进度` },
                        el('span', { class: 'bar-fill', style: `width:${pct}%` })),
                    el('span', { class: 'pct', text: `${pct}%` }),
                    u.stalled ? el('span', { class: 'pill pill-warn', text: '停滞' }) : null));
            }
        },
    },
    {
        key: 'pending', title: '待办', width: 200, sort: null,
        sig: (r) => pendingOf(r).map((t) => t[1]).join(',') + (r.ConfigCmd ? `|${r.ConfigCmd}` : ''),
        paint: (td, r) => {
            const tags = pendingOf(r);
            td.title = r.ConfigCmd ? `配置指令：${r.ConfigCmd}` : '';
            td.replaceChildren(tags.length ? el('span', { class: 'tags' }, tags.map(([kind, label]) => el('span', { class: `tag tag-${kind}`, text: label })))
                : el('span', { class: 'muted', text: '无' }));
        },
    },
    {
        key: 'LastReportTime', title: '最近上报', width: 156, sort: 'LastReportTime',
        sig: (r) => text(r.LastReportTime),
        paint: (td, r) => {
            td.textContent = r.LastReportTime ? formatEpoch(r.LastReportTime) : '';
            td.title = r.LastReportTime ? formatAgo(r.LastReportTime) : '从未上报';
        },
    },
    textColumn('McuVersion', 'MCU版本', 110, { cls: 'mono', hiddenFirst: true }),
    textColumn('FourGVersion', '4G模块版本', 110, { cls: 'mono', hiddenFirst: true }),
    textColumn('GnssVersion', 'GNSS版本', 110, { cls: 'mono', hiddenFirst: true }),
    textColumn('SmartModule', '智能模块版本', 110, { cls: 'mono', hiddenFirst: true }),
    textColumn('devId', '设备ID', 150, { hiddenFirst: true }),
];
// Until the operator chooses, the columns shown fit a 1366 px wide screen; the others are one
// tick away in the column chooser.
const shown = new Set(shownColumns.read() || COLUMNS.filter((c) => !c.hiddenFirst).map((c) => c.key));
const isShown = (col) => col.fixed || shown.has(col.key);

const $ = (id) => document.getElementById(id);

function isSelected(devSN) {
    return state.allMatching || state.selected.has(devSN);
}

// The list's conditions as the API's query members (also the bulk route's filter).
export function filterParams() {
    const f = state.filter;
    const params = {};
    for (const key of ['q', 'devType', 'online', 'pending', 'upgradeState']) if (f[key]) params[key] = f[key];
    if (f.versionValue) params[f.versionColumn + f.versionOp] = f.versionValue;
    return params;
}

// The list's conditions and order as the address's query, and back: a link or a bookmark of
// the address opens the same list.
function listQuery() {
    const query = new URLSearchParams(filterParams());
    if (state.sort.key !== 'id' || state.sort.dir !== 'asc') {
        query.set('sort', state.sort.key);
        query.set('order', state.sort.dir);
    }
    return query.toString();
}

function readListQuery(query) {
    const filter = { q: '', devType: '', online: '', pending: '', upgradeState: '', versionColumn: 'AppVersion', versionOp: '', versionValue: '' };
    for (const key of ['q', 'devType', 'online', 'pending', 'upgradeState']) filter[key] = query.get(key) || '';
    for (const [key] of VERSION_COLUMNS) {
        for (const op of ['', 'Not']) {
            if (query.get(key + op)) Object.assign(filter, { versionColumn: key, versionOp: op, versionValue: query.get(key + op) });
        }
    }
    const sort = query.get('sort') ? { key: query.get('sort'), dir: query.get('order') === 'desc' ? 'desc' : 'asc' } : { key: 'id', dir: 'asc' };
    return { filter, sort };
}

function writeAddress() {
    if (!state.active) return;
    const query = listQuery();
    const address = `#/devices${query ? `?${query}` : ''}`;
    if (location.hash !== address) history.replaceState(null, '', address);
}

// The address asks for a list (a link, a bookmark, a saved filter): show that one. A bare
// #/devices keeps the list as it was and writes it into the address.
function followAddress() {
    const query = hashQuery();
    if ([...query.keys()].length === 0 || query.toString() === listQuery()) {
        writeAddress();
        return false;
    }
    const { filter, sort } = readListQuery(query);
    state.filter = filter;
    state.sort = sort;
    syncControls();
    renderHeader();
    restart();
    return true;
}

function renderSavedFilters() {
    const all = savedFilters.all();
    $('saved-filter').replaceChildren(el('option', { value: '', text: Object.keys(all).length ? '选择已保存的筛选…' : '还没有保存的筛选' }),
        ...Object.keys(all).sort().map((name) => el('option', { value: name, text: name })));
    $('saved-filter-delete').disabled = true;
}

function initSavedFilters() {
    $('saved-filter').addEventListener('change', (event) => {
        const name = event.target.value;
        $('saved-filter-delete').disabled = !name;
        if (name) location.hash = `#/devices?${savedFilters.all()[name]}`;
    });
    $('saved-filter-save').addEventListener('click', () => {
        const name = $('saved-filter-name').value.trim();
        if (!name) {
            notify('error', '请先填写筛选的名称');
            return;
        }
        savedFilters.save(name, listQuery());
        $('saved-filter-name').value = '';
        renderSavedFilters();
        $('saved-filter').value = name;
        notify('success', '已保存筛选', name);
    });
    $('saved-filter-delete').addEventListener('click', () => {
        const name = $('saved-filter').value;
        if (!name) return;
        savedFilters.remove(name);
        renderSavedFilters();
    });
    $('copy-list-link').addEventListener('click', async () => {
        writeAddress();
        try {
            await navigator.clipboard.writeText(location.href);
            notify('success', '已复制本列表的链接');
        } catch {
            notify('info', '请从地址栏复制本列表的链接');
        }
    });
}

// The column chooser: the first two columns always stay; the choice is kept in this browser.
function initColumnChooser() {
    // A click elsewhere closes the chooser, as a menu would.
    document.addEventListener('click', (event) => {
        const chooser = document.querySelector('.column-chooser');
        if (chooser.open && !chooser.contains(event.target)) chooser.open = false;
    });
    $('column-choices').replaceChildren(...COLUMNS.filter((c) => !c.fixed).map((col) => el('label', { class: 'check' },
        el('input', { type: 'checkbox', value: col.key, checked: shown.has(col.key), onchange: (e) => {
            if (e.target.checked) shown.add(col.key);
            else shown.delete(col.key);
            shownColumns.write([...shown]);
            for (const row of state.pool) {
                row._cells.forEach((cell, c) => {
                    cell.hidden = !isShown(COLUMNS[c]);
                    cell._sig = undefined;
                });
            }
            renderHeader();
            scheduleRender();
        } }),
        el('span', { text: col.title }))));
}

function rowAt(index) {
    const page = state.pages.get(Math.floor(index / PAGE_SIZE));
    return page ? page[index % PAGE_SIZE] : undefined;
}

// ---- Loading ----

async function loadPage(pageIndex, { refresh = false } = {}) {
    if (state.loading.get(pageIndex) === state.generation) return;
    const generation = state.generation;
    state.loading.set(pageIndex, generation);
    try {
        const doc = await v2.devices({ ...filterParams(), sort: state.sort.key, order: state.sort.dir, offset: pageIndex * PAGE_SIZE, limit: PAGE_SIZE });
        reportService(true);
        if (generation !== state.generation) return;
        state.error = null;
        state.pages.set(pageIndex, doc.items);
        const known = state.types.size;
        for (const row of doc.items) if (row.devType) state.types.add(row.devType);
        if (state.types.size !== known) offerTypes();
        setTotal(doc.total);
        evictPages();
    } catch (err) {
        reportService(false, err);
        if (generation !== state.generation) return;
        state.error = `读取设备列表失败：${err.message}`;
        if (!refresh) notifyError('读取设备列表', err);
        renderSummary();
    } finally {
        if (state.loading.get(pageIndex) === generation) state.loading.delete(pageIndex);
    }
    scheduleRender();
}

// The type filter and the upload form offer the types seen so far.
function offerTypes() {
    const list = $('known-types');
    const offered = new Set([...list.options].map((o) => o.value));
    for (const type of [...state.types].sort()) if (!offered.has(type)) list.append(el('option', { value: type }));
}

function setTotal(total) {
    const changed = total !== state.total || !state.totalKnown;
    state.total = total;
    state.totalKnown = true;
    if (changed) {
        $('device-canvas').style.height = `${total * ROW_HEIGHT}px`;
        $('device-list').setAttribute('aria-rowcount', String(total + 1));
        renderSummary();
    }
}

// Keeps the pages nearest the view; the others are asked for again if scrolled back to.
function evictPages() {
    if (state.pages.size <= MAX_PAGES) return;
    const centre = Math.floor(state.window.first / PAGE_SIZE);
    const far = [...state.pages.keys()].sort((a, b) => Math.abs(b - centre) - Math.abs(a - centre));
    for (const key of far.slice(0, state.pages.size - MAX_PAGES)) state.pages.delete(key);
}

function visiblePages() {
    const { first, last } = state.window;
    const pages = [];
    for (let p = Math.floor(first / PAGE_SIZE); p * PAGE_SIZE < Math.max(last, 1); ++p) pages.push(p);
    return pages;
}

// Conditions or order changed: everything held is for another list.
function restart() {
    ++state.generation;
    state.pages.clear();
    state.loading.clear();
    state.totalKnown = false;
    state.allMatching = false;
    state.focusIndex = 0;
    $('device-scroll').scrollTop = 0;
    renderChips();
    renderBulkBar();
    writeAddress();
    loadPage(0);
    scheduleRender();
}

// The periodic refresh: the pages in view are asked for again and replace what is held; the
// cells then compare their content and only those that differ are drawn.
async function refreshVisible() {
    if (state.refreshing) return;
    state.refreshing = true;
    try {
        const wanted = new Set(visiblePages());
        for (const key of state.pages.keys()) if (!wanted.has(key)) state.pages.delete(key);
        await Promise.all([...wanted].map((p) => loadPage(p, { refresh: true })));
    } finally {
        state.refreshing = false;
    }
}

async function pollProgress() {
    if (state.polling) return;
    state.polling = true;
    try {
        // Stalls take minutes to appear: asked for every fifth time.
        const withStalled = state.pollCount++ % 5 === 0;
        const [running, stalled] = await Promise.all([
            v2.upgrades({ state: 'running', limit: 500 }),
            withStalled ? v2.upgrades({ state: 'stalled', limit: 500 }) : null,
        ]);
        reportService(true);
        const next = new Map();
        for (const a of running.items) next.set(a.devSN, { progress: a.lastProgress, stalled: false });
        if (stalled) {
            state.stalled = stalled.items;
            state.stalledTotal = stalled.total;
        }
        for (const a of state.stalled || []) if (!next.has(a.devSN)) next.set(a.devSN, { progress: a.lastProgress, stalled: true });
        state.runningTotal = running.total;
        // A terminal that left the running list finished or stalled: its row changed too.
        const shown = new Set(state.pool.filter((r) => !r.hidden && r._sn).map((r) => r._sn));
        const ended = [...state.running.keys()].some((sn) => !next.has(sn) && shown.has(sn));
        state.running = next;
        if (ended) refreshVisible();
        scheduleRender();
        renderSummary();
    } catch (err) {
        reportService(false, err);
    } finally {
        state.polling = false;
    }
}

// ---- Drawing ----

function scheduleRender() {
    if (state.frame) return;
    state.frame = requestAnimationFrame(() => {
        state.frame = 0;
        renderWindow();
    });
}

function makeRow() {
    // The columns come from one rule on the list, not from a style of each row.
    const row = el('div', { class: 'vrow', role: 'row', tabindex: '-1', hidden: true });
    row._cells = COLUMNS.map((col) => {
        const cell = el('div', { class: `vcell${col.cls ? ` ${col.cls}` : ''}${col.sticky !== undefined ? ' vcell-sticky' : ''}`, role: 'gridcell', 'data-col': col.key });
        if (col.sticky !== undefined) cell.style.left = `${col.sticky}px`;
        cell.hidden = !isShown(col);
        cell._sig = undefined;
        row.append(cell);
        return cell;
    });
    row._index = -1;
    return row;
}

function ensurePool(size) {
    if (state.pool.length >= size) return;
    const canvas = $('device-canvas');
    for (const row of state.pool) row.remove();
    state.pool = Array.from({ length: size }, makeRow);
    canvas.append(...state.pool);
}

function paintRow(row, index) {
    if (row._index !== index) {
        row._index = index;
        row.style.transform = `translateY(${index * ROW_HEIGHT}px)`;
        row.setAttribute('aria-rowindex', String(index + 2));
    }
    row.hidden = false;
    const data = rowAt(index);
    if (!data) {
        if (row._sn !== null) {
            row._sn = null;
            delete row.dataset.key;
            row.classList.add('vrow-loading');
            row.classList.remove('vrow-selected');
            for (const cell of row._cells) {
                cell._sig = undefined;
                cell.replaceChildren();
            }
            row._cells[1].textContent = '加载中…';
        }
        return;
    }
    if (row._sn !== data.devSN) {
        row._sn = data.devSN;
        row.dataset.key = data.devSN;
        row.classList.remove('vrow-loading');
    }
    row.classList.toggle('vrow-selected', isSelected(data.devSN));
    row.classList.toggle('vrow-force', !!data.isAutoUpdate);
    for (let c = 0; c < COLUMNS.length; ++c) {
        const cell = row._cells[c];
        if (cell.hidden) continue;
        const sig = COLUMNS[c].sig(data);
        if (cell._sig !== sig) {
            cell._sig = sig;
            COLUMNS[c].paint(cell, data);
        }
    }
    row.tabIndex = index === state.focusIndex ? 0 : -1;
}

function renderWindow() {
    const scroller = $('device-scroll');
    if (!scroller || !state.active) return;
    const viewport = Math.max(ROW_HEIGHT, scroller.clientHeight - ROW_HEIGHT);
    const top = scroller.scrollTop;
    const size = Math.ceil(viewport / ROW_HEIGHT) + 2 * OVERSCAN + 2;
    ensurePool(size);
    const first = Math.max(0, Math.floor(top / ROW_HEIGHT) - OVERSCAN);
    const last = Math.min(state.total, first + size);
    state.window = { first, last };
    const used = new Set();
    for (let i = first; i < last; ++i) {
        const row = state.pool[i % state.pool.length];
        used.add(row);
        paintRow(row, i);
    }
    for (const row of state.pool) {
        if (!used.has(row) && !row.hidden) {
            row.hidden = true;
            row._index = -1;
        }
    }
    const empty = state.totalKnown && state.total === 0;
    $('device-empty').hidden = !empty;
    if (empty) $('device-empty').textContent = Object.keys(filterParams()).length ? '没有符合条件的设备' : '还没有终端上报过';
    // Pages still missing in view are asked for, a few at a time.
    for (const p of visiblePages()) {
        if (state.loading.size >= MAX_LOADS) break;
        if (!state.pages.has(p) && (p === 0 || state.totalKnown)) loadPage(p);
    }
}

function renderSummary() {
    const summary = $('devices-summary');
    if (!summary) return;
    const conditions = Object.keys(filterParams()).length > 0;
    summary.replaceChildren(...[
        el('span', {}, conditions ? '符合条件 ' : '共 ', el('b', { id: 'devices-count', text: state.totalKnown ? String(state.total) : '…' }), ' 台设备'),
        el('span', {}, '正在升级 ', el('b', { id: 'devices-running', text: String(state.runningTotal ?? 0) })),
        state.stalledTotal ? el('span', { class: 'warn-text' }, '升级停滞 ', el('b', { text: String(state.stalledTotal) })) : null,
        el('span', { class: 'muted', text: `更新于 ${formatClock()}` }),
        state.error ? el('span', { class: 'error-text', role: 'alert', text: state.error }) : null,
    ].filter(Boolean));
}

// ---- Conditions ----

const CHOICES = {
    online: { true: '在线', false: '离线' },
    pending: { forced: '强制升级', command: '配置指令', file: '文件请求', any: '有待办', none: '无待办' },
    upgradeState: { none: '从未升级', running: '升级中', stalled: '升级停滞', completed: '已完成升级' },
};

function renderChips() {
    const f = state.filter;
    const chips = [];
    const chip = (label, clear) => chips.push(el('span', { class: 'chip' }, label,
        el('button', { type: 'button', class: 'chip-remove', 'aria-label': `移除条件：${label}`, text: '×', onclick: () => { clear(); syncControls(); restart(); } })));
    if (f.q) chip(`搜索 “${f.q}”`, () => { f.q = ''; });
    if (f.devType) chip(`型号 = ${f.devType}`, () => { f.devType = ''; });
    if (f.versionValue) {
        const name = VERSION_COLUMNS.find(([k]) => k === f.versionColumn)[1];
        chip(`${name} ${f.versionOp ? '≠' : '='} ${f.versionValue}`, () => { f.versionValue = ''; });
    }
    for (const key of ['online', 'pending', 'upgradeState']) if (f[key]) chip(CHOICES[key][f[key]], () => { f[key] = ''; });
    const box = $('filter-chips');
    box.replaceChildren(...chips);
    box.hidden = chips.length === 0;
    if (chips.length > 1) box.append(el('button', { type: 'button', class: 'link-button chip-clear', text: '清除全部条件', onclick: clearConditions }));
}

function syncControls() {
    const f = state.filter;
    $('device-search').value = f.q;
    $('filter-type').value = f.devType;
    $('filter-online').value = f.online;
    $('filter-pending').value = f.pending;
    $('filter-upgrade').value = f.upgradeState;
    $('filter-version-column').value = f.versionColumn;
    $('filter-version-op').value = f.versionOp;
    $('filter-version-value').value = f.versionValue;
}

function readControls() {
    Object.assign(state.filter, {
        q: $('device-search').value.trim(),
        devType: $('filter-type').value.trim(),
        online: $('filter-online').value,
        pending: $('filter-pending').value,
        upgradeState: $('filter-upgrade').value,
        versionColumn: $('filter-version-column').value,
        versionOp: $('filter-version-op').value,
        versionValue: $('filter-version-value').value.trim(),
    });
}

function clearConditions() {
    Object.assign(state.filter, { q: '', devType: '', online: '', pending: '', upgradeState: '', versionOp: '', versionValue: '' });
    syncControls();
    restart();
}

function applyControls() {
    const before = JSON.stringify(filterParams());
    readControls();
    if (JSON.stringify(filterParams()) !== before) restart();
    else renderChips();
}

function renderHeader() {
    const head = $('device-head');
    const columns = COLUMNS.filter(isShown);
    $('device-list').style.setProperty('--vgrid-columns', columns.map((c) => `${c.width}px`).join(' '));
    $('device-list').style.setProperty('--vgrid-width', `${columns.reduce((sum, c) => sum + c.width, 0)}px`);
    head.replaceChildren(...columns.map((col) => {
        const cell = el('div', { class: `vcell vhead${col.sticky !== undefined ? ' vcell-sticky' : ''}`, role: 'columnheader', 'data-col': col.key });
        if (col.sticky !== undefined) cell.style.left = `${col.sticky}px`;
        if (col.key === 'select') {
            cell.append(el('input', { type: 'checkbox', id: 'select-all', 'aria-label': '选择全部符合条件的设备', onchange: (e) => selectAllMatching(e.target.checked) }));
        } else if (col.sort) {
            const active = state.sort.key === col.sort;
            cell.setAttribute('aria-sort', active ? (state.sort.dir === 'asc' ? 'ascending' : 'descending') : 'none');
            cell.append(el('button', { type: 'button', class: `sort-button${active ? ` sorted-${state.sort.dir}` : ''}`, text: col.title,
                onclick: () => {
                    state.sort = { key: col.sort, dir: state.sort.key === col.sort && state.sort.dir === 'asc' ? 'desc' : 'asc' };
                    renderHeader();
                    restart();
                } }));
        } else {
            cell.textContent = col.title;
        }
        return cell;
    }));
    $('select-all').checked = state.allMatching;
}

// ---- Selection and bulk requests ----

function selectAllMatching(on) {
    state.allMatching = on;
    if (on) state.selected.clear();
    afterSelection();
}

function toggle(devSN) {
    if (state.allMatching) {
        // Leaving "all matching": what is shown stays ticked, without the one clicked.
        state.allMatching = false;
        for (let i = state.window.first; i < state.window.last; ++i) {
            const r = rowAt(i);
            if (r) state.selected.add(r.devSN);
        }
    }
    if (state.selected.has(devSN)) state.selected.delete(devSN);
    else state.selected.add(devSN);
    afterSelection();
}

function afterSelection() {
    $('select-all').checked = state.allMatching;
    renderBulkBar();
    scheduleRender();
}

function selectionCount() {
    return state.allMatching ? state.total : state.selected.size;
}

function renderBulkBar() {
    const count = selectionCount();
    const bar = $('bulk-bar');
    bar.hidden = count === 0 || !allows('operator');
    // A viewer may tick rows (to count them or export them) but may not change them.
    $('bulk-viewer-note').hidden = count === 0 || allows('operator');
    $('bulk-viewer-note').textContent = `已选择 ${count} 台设备。你的账户是只读角色：可以查看和导出，但不能对设备下发强制升级、指令或文件请求；如需操作请联系管理员提升角色。`;
    $('bulk-count').textContent = String(count);
    $('bulk-scope').textContent = state.allMatching ? '（符合当前条件的全部设备）' : '（勾选的设备）';
    $('bulk-all').hidden = state.allMatching || state.total <= state.selected.size;
    $('bulk-all').textContent = `选择符合条件的全部 ${state.total} 台`;
}

const BULK = {
    force: { title: '强制升级', set: { isAutoUpdate: true }, body: (n) => `将为 ${n} 台设备设置强制升级：它们下次上报时升级到本型号的升级包，无论版本新旧。` },
    unforce: { title: '取消强制升级', set: { isAutoUpdate: false }, body: (n) => `将取消 ${n} 台设备的强制升级标记。已经开始的下载不会中断。` },
    clear: {
        title: '清除待办', danger: true,
        set: { isAutoUpdate: false, ConfigCmd: '', GetLogFile: false, GetIndexFile: false, GetPrintFile: false, GetRunInfoFile: false },
        body: (n) => `将清除 ${n} 台设备的全部待办：强制升级、配置指令和文件请求。`,
    },
    command: { title: '下发配置指令', body: (n) => `将为 ${n} 台设备设置配置指令，终端下次上报时下发（执行成功后清空）。` },
    files: { title: '请求上传文件', body: (n) => `将请求 ${n} 台设备在下次上报后上传所选文件。` },
};

function packageLine(p) {
    const versions = VERSION_COLUMNS.filter(([key]) => p.package[key]).map(([key, name]) => `${name} ${p.package[key]}`).join('，');
    return `${p.package.packageName}（型号 ${p.package.deviceType}；${versions || '无版本'}）：${p.matched} 台，在线 ${p.online}、离线 ${p.offline}，已是此版本 ${p.alreadyOnVersion} 台`;
}

// What the service counted for the action: where the terminals are, and for a forced upgrade
// which package and versions each will get.
function previewContent(preview, forces) {
    const parts = [el('p', { id: 'bulk-presence', text: `在线 ${preview.online} 台，离线 ${preview.offline} 台（离线设备在下次上报时执行）。` })];
    if (forces) {
        parts.push(el('ul', { id: 'bulk-packages' }, preview.packages.map((p) => el('li', { text: packageLine(p) }))));
        if (preview.withoutPackage) parts.push(el('p', { class: 'warn-text', text: `${preview.withoutPackage} 台设备的型号没有升级包，不会升级。` }));
        parts.push(el('p', { id: 'bulk-offered', text: `下次上报时将获得升级包：${preview.wouldBeOffered} 台。` }));
    }
    return parts;
}

async function bulk(action) {
    const bulkAction = BULK[action];
    if (!selectionCount()) return;
    const scope = state.allMatching ? { filter: filterParams() } : { filter: {}, serials: [...state.selected] };
    let preview;
    try {
        preview = await v2.bulkPreview(bulkAction.set ? { ...scope, set: bulkAction.set } : scope);
    } catch (err) {
        notifyError(bulkAction.title, err);
        return;
    }
    const count = preview.matched;
    if (!count) {
        notify('error', `${bulkAction.title}未执行`, '所选设备已不存在或不再符合条件');
        return;
    }
    let set = bulkAction.set;
    const content = previewContent(preview, !!set?.isAutoUpdate);
    let focus = null;
    let read = null;
    if (action === 'command') {
        const input = el('input', { id: 'bulk-command', class: 'wide-input', maxlength: '1400', 'aria-label': '配置指令', placeholder: '配置指令文本' });
        content.push(el('label', { class: 'field' }, el('span', { text: '配置指令' }), input));
        focus = input;
        read = () => (input.value.trim() ? { ConfigCmd: input.value.trim() } : null);
    } else if (action === 'files') {
        const boxes = FILE_REQUESTS.map(([key, label]) => [key, el('input', { type: 'checkbox', 'data-key': key }), label]);
        content.push(el('fieldset', { class: 'checks' }, el('legend', { text: '要上传的文件' }),
            boxes.map(([, box, label]) => el('label', { class: 'check' }, box, label))));
        focus = boxes[0][1];
        read = () => {
            const chosen = Object.fromEntries(boxes.filter(([, box]) => box.checked).map(([key]) => [key, true]));
            return Object.keys(chosen).length ? chosen : null;
        };
    }
    const ok = await confirmAction({
        title: `${bulkAction.title}（${count} 台设备）`, body: bulkAction.body(count), confirmText: `${bulkAction.title} ${count} 台`,
        danger: !!bulkAction.danger, content, focus, typed: count > preview.typedConfirmationAbove ? count : null,
    });
    if (!ok) return;
    if (read) {
        set = read();
        if (!set) {
            notify('error', `${bulkAction.title}未执行`, action === 'command' ? '没有填写配置指令' : '没有选择文件');
            return;
        }
    }
    try {
        const result = await v2.bulk({ ...scope, set });
        notify('success', `${bulkAction.title}：已更新 ${result.updated} 台设备`);
        state.selected.clear();
        state.allMatching = false;
        afterSelection();
        refreshVisible();
    } catch (err) {
        notifyError(bulkAction.title, err);
    }
}

// ---- Keyboard and pointer ----

function focusRow(index) {
    if (state.total === 0) return;
    index = Math.max(0, Math.min(state.total - 1, index));
    state.focusIndex = index;
    const scroller = $('device-scroll');
    const viewport = scroller.clientHeight - ROW_HEIGHT;
    const y = index * ROW_HEIGHT;
    if (y < scroller.scrollTop) scroller.scrollTop = y;
    else if (y + ROW_HEIGHT > scroller.scrollTop + viewport) scroller.scrollTop = y + ROW_HEIGHT - viewport;
    renderWindow();
    const row = state.pool.find((r) => r._index === index && !r.hidden);
    if (row) row.focus({ preventScroll: true });
}

function onKey(event) {
    const row = event.target.closest('.vrow');
    if (!row || row._index < 0) return;
    const page = Math.max(1, Math.floor(($('device-scroll').clientHeight - ROW_HEIGHT) / ROW_HEIGHT) - 1);
    const moves = { ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page };
    if (event.key in moves) focusRow(row._index + moves[event.key]);
    else if (event.key === 'Home') focusRow(0);
    else if (event.key === 'End') focusRow(state.total - 1);
    else if (event.key === 'Enter' && row._sn) openDevice(row._sn, row);
    else if (event.key === ' ' && row._sn) toggle(row._sn);
    else return;
    event.preventDefault();
}

function onClick(event) {
    const row = event.target.closest('.vrow');
    if (!row || !row._sn) return;
    state.focusIndex = row._index;
    if (event.target.closest('[data-col="select"]')) {
        if (event.target.tagName !== 'INPUT') event.preventDefault();
        toggle(row._sn);
        return;
    }
    openDevice(row._sn, row);
}

// ---- Timers and wiring ----

function stopTimers() {
    state.timers.forEach(clearInterval);
    state.timers = [];
}

function startTimers() {
    stopTimers();
    if (!state.active || !$('devices-live').checked) return;
    state.timers.push(setInterval(pollProgress, PROGRESS_POLL_MS));
    state.timers.push(setInterval(() => {
        refreshVisible();
        renderSummary();
    }, LIST_POLL_MS));
}

export function initDevices() {
    renderHeader();
    let searchTimer = 0;
    $('devices-search').addEventListener('submit', (event) => {
        event.preventDefault();
        clearTimeout(searchTimer);
        applyControls();
    });
    $('device-search').addEventListener('input', () => {
        clearTimeout(searchTimer);
        searchTimer = setTimeout(applyControls, SEARCH_DELAY_MS);
    });
    for (const id of ['filter-online', 'filter-pending', 'filter-upgrade', 'filter-version-column', 'filter-version-op']) {
        $(id).addEventListener('change', applyControls);
    }
    $('filter-type').addEventListener('change', applyControls);
    $('filter-version-value').addEventListener('change', applyControls);
    $('search-reset').addEventListener('click', clearConditions);
    $('devices-refresh').addEventListener('click', () => {
        refreshVisible();
        pollProgress();
    });
    $('devices-live').addEventListener('change', startTimers);
    $('devices-export').addEventListener('click', () => downloadExport($('devices-export-format').value, filterParams(), {
        sort: state.sort.key, order: state.sort.dir,
    }));
    const scroller = $('device-scroll');
    scroller.addEventListener('scroll', scheduleRender, { passive: true });
    $('device-canvas').addEventListener('click', onClick);
    $('device-canvas').addEventListener('keydown', onKey);
    scroller.addEventListener('focus', (event) => {
        if (event.target === scroller) focusRow(state.focusIndex);
    });
    new ResizeObserver(scheduleRender).observe(scroller);
    $('bulk-all').addEventListener('click', () => selectAllMatching(true));
    $('bulk-none').addEventListener('click', () => {
        state.selected.clear();
        selectAllMatching(false);
    });
    for (const button of document.querySelectorAll('#bulk-bar [data-bulk]')) {
        button.addEventListener('click', () => bulk(button.dataset.bulk));
    }
    // The drawer saved a change: the row shows it at once.
    document.addEventListener('device-changed', () => refreshVisible());
    initSavedFilters();
    initColumnChooser();
    renderChips();
}

export const devicesPage = {
    activate() {
        state.active = true;
        renderSavedFilters();
        if (!followAddress()) {
            if (!state.totalKnown) restart();
            else refreshVisible();
        }
        pollProgress();
        startTimers();
        renderSummary();
        renderBulkBar();
    },
    deactivate() {
        state.active = false;
        stopTimers();
    },
    // Another address of this page: a link or a saved filter chose another list.
    reroute: followAddress,
    // Device types seen in the list, offered when uploading a package.
    knownTypes: () => [...state.types],
    // Something changed the rows elsewhere (an import, "stop all forced upgrades").
    invalidate() {
        state.pages.clear();
        if (state.active) refreshVisible();
    },
};
