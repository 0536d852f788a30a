// The device-list exchange file: 16 columns with Chinese titles, written by the service in the
// host's ANSI code page (GBK) with a trailing comma after every cell.

export const CSV_TITLES = [
    '设备ID', '设备序列号', '设备型号', '车牌号', '手机号', 'APP版本', 'MCU版本', '4G模块版本',
    'GNSS版本', '智能模块版本', '是否自动升级', '配置指令', '上传日志', '上传录像索引',
    '上传打印文件', '上传行车信息文件',
];

// Columns the operator edits to request work from a terminal; "1" means yes.
export const EDITABLE_COLUMNS = [
    { index: 10, key: 'autoUpdate', title: '是否自动升级', flag: true, meaning: '下次上报时强制升级，无论版本新旧' },
    { index: 11, key: 'configCmd', title: '配置指令', flag: false, meaning: '下次上报时下发的配置指令文本（终端执行成功后清空）' },
    { index: 12, key: 'logFile', title: '上传日志', flag: true, meaning: '请求终端上传日志文件' },
    { index: 13, key: 'indexFile', title: '上传录像索引', flag: true, meaning: '请求终端上传录像索引文件' },
    { index: 14, key: 'printFile', title: '上传打印文件', flag: true, meaning: '请求终端上传打印文件' },
    { index: 15, key: 'runInfoFile', title: '上传行车信息文件', flag: true, meaning: '请求终端上传行车信息文件' },
];

// Text of the file: a byte-order mark decides; otherwise UTF-8 when the bytes are valid UTF-8,
// else GBK (what the service writes and what spreadsheet programs save on Chinese hosts).
export function decodeCsv(buffer) {
    return readCsvBytes(buffer).text;
}

// Text and encoding of the file; `serverReadsAlike` is false for UTF-8 without a byte-order mark
// holding non-ASCII text, which the service reads as GBK and so refuses (its titles differ).
export function readCsvBytes(buffer) {
    const bytes = new Uint8Array(buffer);
    const boms = [
        [[0xef, 0xbb, 0xbf], 'utf-8'],
        [[0xff, 0xfe], 'utf-16le'],
        [[0xfe, 0xff], 'utf-16be'],
    ];
    for (const [mark, encoding] of boms) {
        if (mark.every((b, i) => bytes[i] === b)) {
            return { text: new TextDecoder(encoding).decode(bytes.subarray(mark.length)), encoding, serverReadsAlike: true };
        }
    }
    try {
        const text = new TextDecoder('utf-8', { fatal: true }).decode(bytes);
        return { text, encoding: 'utf-8', serverReadsAlike: /^[\x00-\x7f]*$/.test(text) };
    } catch {
        return { text: new TextDecoder('gbk').decode(bytes), encoding: 'gbk', serverReadsAlike: true };
    }
}

// Splits one line the way the service reads it: quotes toggle a "quoted" state, commas outside
// quotes end a field, a trailing comma yields a final empty field.
export function splitCsvLine(line) {
    const fields = [];
    let field = '';
    let quotes = 0;
    const finish = (f) => {
        if (f.includes('"')) {
            f = f.replaceAll('""', '"');
            if (f.startsWith('"') && f.endsWith('"')) f = f.slice(1, -1);
        }
        return f;
    };
    for (let i = 0; i < line.length; ++i) {
        const c = line[i];
        if (c === '"') {
            quotes = (quotes + 1) % 2;
            field += c;
        } else if (c === ',' && quotes === 0) {
            fields.push(finish(field));
            field = '';
            if (i === line.length - 1) fields.push('');
        } else {
            field += c;
        }
    }
    if (field !== '') fields.push(finish(field));
    return fields;
}

export function splitCsvRows(text) {
    return text
        .split(/\r?\n/)
        .filter((line) => line !== '')
        .map(splitCsvLine);
}

// Reads a device-list file as the import does. Returns { ok, error, rows, skipped } where each row
// holds the identity columns and the pending requests of one terminal.
export function parseDeviceCsv(text) {
    const table = splitCsvRows(text);
    if (table.length === 0) return { ok: false, error: '文件为空，没有标题行' };
    const header = table[0];
    if (header.length < CSV_TITLES.length) {
        return { ok: false, error: `标题行只有 ${header.length} 列，需要 ${CSV_TITLES.length} 列` };
    }
    for (let i = 0; i < CSV_TITLES.length; ++i) {
        if (header[i] !== CSV_TITLES[i]) {
            return { ok: false, error: `第 ${i + 1} 列标题应为“${CSV_TITLES[i]}”，文件中为“${header[i]}”` };
        }
    }
    const rows = [];
    let skipped = 0;
    const oddFlags = [];
    for (let r = 1; r < table.length; ++r) {
        const cells = table[r];
        if (cells.length < CSV_TITLES.length || cells[1] === '') {
            ++skipped;
            continue;
        }
        const row = {
            line: r + 1,
            deviceId: cells[0],
            deviceNo: cells[1],
            deviceType: cells[2],
            plateNo: cells[3],
            phone: cells[4],
        };
        for (const col of EDITABLE_COLUMNS) {
            const cell = cells[col.index];
            if (col.flag) {
                row[col.key] = cell === '1';
                if (cell !== '1' && cell !== '0' && cell !== '') oddFlags.push({ line: r + 1, title: col.title, cell });
            } else {
                row[col.key] = cell;
            }
        }
        rows.push(row);
    }
    return { ok: true, rows, skipped, oddFlags };
}

// Pending requests per serial number, for the markers of the device list.
export function pendingBySerial(rows) {
    const map = new Map();
    for (const row of rows) map.set(row.deviceNo, row);
    return map;
}
