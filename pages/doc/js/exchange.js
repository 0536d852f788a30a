// Device-list exchange page: export as CSV, check an edited file in the browser, import it.
import { api, attachmentName } from './api.js';
import { CSV_TITLES, EDITABLE_COLUMNS, parseDeviceCsv, readCsvBytes } from './csv.js';
import { el, formatBytes, formatClock, notify, notifyError, renderTable, setMessage } from './ui.js';
import { reportService } from './service.js';
import { devicesPage } from './devices.js';

const state = { file: null, bytes: null, parsed: null };

async function exportList() {
    const message = document.getElementById('export-message');
    const button = document.getElementById('export-button');
    button.disabled = true;
    setMessage(message, 'info', '正在导出…');
    try {
        const response = await api.exportDeviceList();
        const blob = await response.blob();
        const name = attachmentName(response, `设备清单_${Date.now()}.csv`);
        const url = URL.createObjectURL(blob);
        const link = el('a', { href: url, download: name, hidden: true });
        document.body.append(link);
        link.click();
        link.remove();
        setTimeout(() => URL.revokeObjectURL(url), 60000);
        reportService(true);
        setMessage(message, 'success', `已导出 ${name}（${formatBytes(blob.size)}，${formatClock()}）。`);
    } catch (err) {
        reportService(false, err);
        setMessage(message, 'error', `导出失败：${err.message}`);
        notifyError('导出设备清单', err);
    } finally {
        button.disabled = false;
    }
}

const flagCell = (on) => (on ? el('span', { class: 'tag tag-force', text: '是' }) : el('span', { class: 'muted', text: '否' }));

function renderPreview() {
    const card = document.getElementById('import-preview-card');
    const summary = document.getElementById('import-summary');
    const parsed = state.parsed;
    card.hidden = false;
    if (!parsed.ok) {
        summary.replaceChildren(el('span', { class: 'error-text', text: `无法导入：${parsed.error}` }));
        document.getElementById('import-preview').replaceChildren();
        return;
    }
    const parts = [el('span', {}, '将更新 ', el('b', { id: 'import-count', text: String(parsed.rows.length) }), ' 台设备')];
    if (parsed.skipped) parts.push(el('span', { class: 'warn-text', text: `${parsed.skipped} 行因缺少序列号或列数不足将被跳过` }));
    for (const odd of parsed.oddFlags.slice(0, 5)) {
        parts.push(el('span', { class: 'warn-text', text: `第 ${odd.line} 行 “${odd.title}” 为 “${odd.cell}”，按“否”处理` }));
    }
    summary.replaceChildren(...parts);
    const columns = [
        { key: 'deviceNo', title: '设备序列号', class: 'strong' },
        { key: 'deviceType', title: '设备型号' },
        { key: 'plateNo', title: '车牌号' },
        ...EDITABLE_COLUMNS.map((c) => ({ key: c.key, title: c.title, render: c.flag ? (r) => flagCell(r[c.key]) : undefined })),
    ];
    renderTable(document.getElementById('import-preview'), columns, parsed.rows.slice(0, 200), { emptyText: '文件中没有设备行', rowKey: (r) => r.deviceNo });
}

async function chooseFile() {
    const input = document.getElementById('import-file');
    const file = input.files[0];
    const button = document.getElementById('import-button');
    const message = document.getElementById('import-message');
    setMessage(message, 'info', '');
    state.file = file || null;
    button.disabled = true;
    document.getElementById('import-file-label').textContent = file ? `${file.name}（${formatBytes(file.size)}）` : '选择 CSV 文件';
    if (!file) return;
    if (!/\.csv$/i.test(file.name)) {
        setMessage(message, 'error', '只能导入 .csv 文件（表格程序中“另存为 CSV”）。');
        return;
    }
    state.bytes = await file.arrayBuffer();
    const read = readCsvBytes(state.bytes);
    state.parsed = read.serverReadsAlike
        ? parseDeviceCsv(read.text)
        : { ok: false, error: '文件是不带 BOM 的 UTF-8 编码，服务会按 GBK 读取而拒绝它；请在表格程序中另存为 “CSV（逗号分隔）” 或 “带 BOM 的 UTF-8 CSV”' };
    renderPreview();
    button.disabled = !state.parsed.ok || state.bytes.byteLength === 0;
}

async function importList() {
    const message = document.getElementById('import-message');
    const button = document.getElementById('import-button');
    if (!state.file || !state.parsed || !state.parsed.ok) return;
    button.disabled = true;
    const rows = state.parsed.rows.length;
    setMessage(message, 'info', `正在导入 ${rows} 台设备，预计约 ${Math.max(1, Math.ceil(rows * 0.05))} 秒…`);
    try {
        await api.importDeviceList(state.file.name, state.bytes, rows);
        reportService(true);
        devicesPage.invalidatePending();
        setMessage(message, 'success', `导入成功：已更新 ${rows} 台设备（${formatClock()}）。终端下次上报时执行待办请求。`);
        notify('success', '设备清单已导入', state.file.name);
    } catch (err) {
        reportService(false, err);
        setMessage(message, 'error', `导入失败：${err.message}`);
        notifyError('导入设备清单', err);
    } finally {
        button.disabled = false;
    }
}

export function initExchange() {
    document.getElementById('export-button').addEventListener('click', exportList);
    document.getElementById('import-file').addEventListener('change', chooseFile);
    document.getElementById('import-button').addEventListener('click', importList);
    const rows = EDITABLE_COLUMNS.map((c) => ({ column: c.index + 1, title: c.title, values: c.flag ? '“1” 是，“0” 否' : '文本，留空表示无', meaning: c.meaning }));
    renderTable(document.getElementById('editable-columns'), [
        { key: 'column', title: '列', class: 'num', sortable: false },
        { key: 'title', title: '标题', class: 'strong', sortable: false },
        { key: 'values', title: '取值', sortable: false },
        { key: 'meaning', title: '作用', sortable: false },
    ], rows);
    document.getElementById('editable-columns').title = `全部列：${CSV_TITLES.join('，')}`;
}

export const exchangePage = { activate() {}, deactivate() {} };
