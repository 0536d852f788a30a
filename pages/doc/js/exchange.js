// Device-list exchange: export as CSV or .xlsx; import an edited file after the service's own
// preview, row by row and column by column, with terminals upgraded since the export flagged
// and their versions written only when the operator asks.
import { attachmentName, postWithProgress, request, v2 } from './api.js';
import { EDITABLE_COLUMNS, parseDeviceCsv, readCsvBytes, CSV_TITLES } from './csv.js';
import { COLUMN_TITLES } from './names.js';
import { reportService } from './service.js';
import { confirmAction, el, formatBytes, formatClock, notify, notifyError, renderTable, setMessage } from './ui.js';
import { devicesPage } from './devices.js';

const PREVIEW_ROWS_SHOWN = 500;
const state = { file: null, bytes: null, preview: null, ticket: 0, busy: false };
const $ = (id) => document.getElementById(id);

// Downloads the device list (all, or what the list's conditions take) in the format asked for.
export async function downloadExport(format, filter = {}, sort = {}, message = null) {
    const label = format === 'xlsx' ? 'Excel 工作簿' : 'CSV 文件';
    if (message) setMessage(message, 'info', `正在导出${label}…`);
    try {
        const response = await request('GET', v2.exportUrl({ format, ...filter, ...sort }), { timeoutMs: 120000 });
        const blob = await response.blob();
        const name = attachmentName(response, `devices.${format}`);
        const url = URL.createObjectURL(blob);
        const link = el('a', { href: url, download: name, hidden: true });
        document.body.append(link);
        link.click();
        link.remove();
        setTimeout(() => URL.revokeObjectURL(url), 60000);
        reportService(true);
        const text = `已导出 ${name}（${formatBytes(blob.size)}，${formatClock()}）。`;
        if (message) setMessage(message, 'success', text);
        else notify('success', '设备清单已导出', text);
    } catch (err) {
        reportService(false, err);
        if (message) setMessage(message, 'error', `导出失败：${err.message}`);
        notifyError('导出设备清单', err);
    }
}

const ACTIONS = { insert: '新增', update: '更新', unchanged: '不变' };

function showValue(column, value) {
    if (typeof value === 'boolean') return value ? '是' : '否';
    if (value === null || value === undefined || value === '') return '空';
    if (column === 'UpgradeCompletionTime' && typeof value === 'number') return value ? String(value) : '空';
    return String(value);
}

function changeList(changes, cls = '') {
    if (!changes.length) return el('span', { class: 'muted', text: '—' });
    return el('ul', { class: `change-list ${cls}` }, changes.map((c) => el('li', { dataset: { column: c.column } },
        el('span', { class: 'change-col', text: COLUMN_TITLES[c.column] || c.column }), '：',
        el('span', { class: 'change-from', text: showValue(c.column, c.from) }), ' → ',
        el('b', { class: 'change-to', text: showValue(c.column, c.to) }))));
}

function renderPreview() {
    const card = $('import-preview-card');
    const summary = $('import-summary');
    card.hidden = false;
    const p = state.preview;
    const s = p.summary;
    const versions = $('import-versions').checked;
    summary.replaceChildren(...[
        el('span', {}, '文件共 ', el('b', { id: 'import-rows', text: String(s.rows) }), ' 行'),
        el('span', {}, '新增 ', el('b', { id: 'import-inserted', text: String(s.inserted) })),
        el('span', {}, '更新 ', el('b', { id: 'import-count', text: String(s.updated) })),
        el('span', {}, '不变 ', el('b', { text: String(s.unchanged) })),
        s.skipped ? el('span', { class: 'warn-text', text: `${s.skipped} 行没有序列号，将跳过` }) : null,
        s.flagged ? el('span', { class: 'warn-text', id: 'import-flagged' }, `${s.flagged} 行的版本或升级完成时间与设备当前记录不同`,
            versions ? `（其中 ${s.versionsKept} 行导出后已升级，版本保持不变）` : '（版本不会写入）') : null,
    ].filter(Boolean));
    const rows = p.rows.slice(0, PREVIEW_ROWS_SHOWN);
    renderTable($('import-preview'), [
        { key: 'line', title: '行', class: 'num', sortable: false },
        { key: 'devSN', title: '设备序列号', class: 'strong', sortable: false },
        { key: 'action', title: '操作', sortable: false, render: (r) => el('span', { class: `pill pill-${r.action}`, text: ACTIONS[r.action] || r.action }) },
        { key: 'changes', title: '将写入的修改', sortable: false, render: (r) => changeList(r.changes.filter((c) => !r.versionChanges.some((v) => v.column === c.column) || r.versionsWritten)) },
        {
            key: 'versions', title: '版本', sortable: false,
            render: (r) => (r.versionChanges.length
                ? el('div', {}, changeList(r.versionChanges, r.versionsWritten ? '' : 'change-kept'),
                    el('span', { class: r.versionsWritten ? 'pill pill-update' : 'pill pill-warn', text: r.versionsWritten ? '将写入' : '不写入' }))
                : el('span', { class: 'muted', text: '—' })),
        },
        {
            key: 'flagged', title: '提示', sortable: false,
            render: (r) => {
                if (!r.flagged) return el('span', { class: 'muted', text: '—' });
                const why = r.completionTimeDiffers ? '导出后终端已升级（升级完成时间不同），此行的版本已过时'
                    : !r.completionTimeKnown ? '文件中没有升级完成时间，无法确认版本是否过时' : '版本与设备当前记录不同';
                return el('span', { class: 'stale-flag', text: `⚠ ${why}` });
            },
        },
    ], rows, {
        rowKey: (r) => r.devSN,
        emptyText: '文件与设备当前记录一致，导入不会修改任何设备',
        rowClass: (r) => (r.flagged ? 'row-flagged' : undefined),
    });
    $('import-more').hidden = p.rows.length <= PREVIEW_ROWS_SHOWN;
    $('import-more').textContent = `只显示前 ${PREVIEW_ROWS_SHOWN} 行，共 ${p.rows.length} 行有修改或提示。`;
    $('import-button').disabled = s.inserted + s.updated === 0;
}

function importUrl(path) {
    return `${path}?versions=${$('import-versions').checked ? 'true' : 'false'}`;
}

function setBar(percent, text) {
    $('import-progress').hidden = false;
    $('import-progress-text').textContent = text;
    const bar = $('import-bar');
    bar.setAttribute('aria-valuenow', String(Math.round(percent)));
    bar.classList.toggle('bar-done', percent >= 100);
    bar.classList.remove('bar-failed');
    bar.firstElementChild.style.width = `${percent}%`;
}

async function preview() {
    const ticket = ++state.ticket;
    const message = $('import-message');
    $('import-button').disabled = true;
    setMessage(message, 'info', '正在由服务检查文件…');
    try {
        const doc = await postWithProgress(importUrl('/KORVA/v2/devices/import/preview'), state.bytes, { timeoutMs: 120000 });
        if (ticket !== state.ticket) return;
        state.preview = doc;
        setMessage(message, '', '');
        renderPreview();
    } catch (err) {
        if (ticket !== state.ticket) return;
        state.preview = null;
        $('import-preview-card').hidden = true;
        setMessage(message, 'error', `无法导入：${err.message}`);
    }
}

async function chooseFile() {
    const file = $('import-file').files[0];
    const message = $('import-message');
    setMessage(message, 'info', '');
    state.file = file || null;
    state.preview = null;
    ++state.ticket;
    $('import-button').disabled = true;
    $('import-preview-card').hidden = true;
    $('import-progress').hidden = true;
    $('import-file-label').textContent = file ? `${file.name}（${formatBytes(file.size)}）` : '选择 CSV 或 Excel 文件';
    if (!file) return;
    if (!/\.(csv|xlsx)$/i.test(file.name)) {
        setMessage(message, 'error', '只能导入 .csv 或 .xlsx 文件。');
        return;
    }
    state.bytes = await file.arrayBuffer();
    // A CSV file is checked here first: what the service would refuse is not sent at all.
    if (/\.csv$/i.test(file.name)) {
        const read = readCsvBytes(state.bytes);
        const parsed = read.serverReadsAlike
            ? parseDeviceCsv(read.text)
            : { ok: false, error: '文件是不带 BOM 的 UTF-8 编码，服务会按 GBK 读取而拒绝它；请在表格程序中另存为 “CSV（逗号分隔）” 或 “带 BOM 的 UTF-8 CSV”' };
        if (!parsed.ok) {
            setMessage(message, 'error', `无法导入：${parsed.error}`);
            return;
        }
    }
    await preview();
}

async function importList() {
    if (!state.preview || state.busy) return;
    const s = state.preview.summary;
    const versions = $('import-versions').checked;
    const ok = await confirmAction({
        title: '导入设备清单',
        body: `将新增 ${s.inserted} 台、更新 ${s.updated} 台设备${versions ? '，并写入未过时的版本号' : '（版本号不写入）'}。全部修改在一次事务中写入。`,
        confirmText: '导入',
    });
    if (!ok) return;
    const message = $('import-message');
    const button = $('import-button');
    state.busy = true;
    button.disabled = true;
    setBar(0, '正在上传文件…');
    try {
        const doc = await postWithProgress(importUrl('/KORVA/v2/devices/import'), state.bytes, {
            timeoutMs: 300000,
            onProgress: (sent, total) => {
                // The upload is most of the time; the rest is the service's one transaction.
                if (total) setBar((sent / total) * 90, sent < total ? `正在上传文件（${formatBytes(sent)} / ${formatBytes(total)}）…` : '服务正在写入…');
            },
        });
        setBar(100, '导入完成');
        reportService(true);
        devicesPage.invalidate();
        const r = doc.summary;
        setMessage(message, 'success', `导入成功：新增 ${r.inserted} 台，更新 ${r.updated} 台${r.versionsKept ? `，${r.versionsKept} 台导出后已升级的设备保留了当前版本` : ''}（${formatClock()}）。终端下次上报时执行待办请求。`);
        state.preview = null;
        $('import-preview-card').hidden = true;
    } catch (err) {
        $('import-bar').classList.add('bar-failed');
        $('import-progress-text').textContent = '导入失败，没有写入任何修改';
        reportService(false, err);
        setMessage(message, 'error', `导入失败：${err.message}`);
        button.disabled = false;
    } finally {
        state.busy = false;
    }
}

export function initExchange() {
    $('export-button').addEventListener('click', () => downloadExport($('export-format').value, {}, {}, $('export-message')));
    $('import-file').addEventListener('change', chooseFile);
    $('import-button').addEventListener('click', importList);
    $('import-versions').addEventListener('change', () => {
        if (state.bytes && state.file && (state.preview || $('import-preview-card').hidden === false)) preview();
    });
    const rows = EDITABLE_COLUMNS.map((c) => ({ column: c.index + 1, title: c.title, values: c.flag ? '“1” 是，“0” 否' : '文本，留空表示无', meaning: c.meaning }));
    renderTable($('editable-columns'), [
        { key: 'column', title: '列', class: 'num', sortable: false },
        { key: 'title', title: '标题', class: 'strong', sortable: false },
        { key: 'values', title: '取值', sortable: false },
        { key: 'meaning', title: '作用', sortable: false },
    ], rows);
    $('editable-columns').title = `全部列：${CSV_TITLES.join('，')}，升级完成时间`;
}

export const exchangePage = { activate() {}, deactivate() {} };
