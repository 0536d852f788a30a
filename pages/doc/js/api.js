// Management API client. Every failure becomes an ApiError carrying the status and the reason
// phrase the server sent, so that pages can show them; the server answers some bad requests with
// no reply at all, hence the time-out on every request.

export const DEFAULT_TIMEOUT_MS = 30000;

export class ApiError extends Error {
    constructor(kind, { status = 0, reason = '', url = '', detail = '' } = {}) {
        super(describe(kind, status, reason, detail));
        this.kind = kind; // 'http' | 'timeout' | 'network' | 'format' | 'aborted'
        this.status = status;
        this.reason = reason;
        this.url = url;
    }
}

// What a status means, in the operator's words; the server's reason phrase is English.
const STATUS_TEXT = {
    400: '请求无效',
    401: '需要登录',
    403: '当前账户无权执行此操作',
    404: '未找到',
    405: '服务不支持此操作',
    409: '与当前状态冲突',
    413: '内容太大',
    416: '请求的范围无效',
    429: '请求过于频繁，请稍后再试',
    500: '服务内部错误',
    501: '服务未执行此操作',
    503: '服务暂时不可用',
    204: '服务没有返回内容',
};

export function statusText(status) {
    return STATUS_TEXT[status] || (status >= 500 ? '服务出错' : '请求失败');
}

function describe(kind, status, reason, detail) {
    switch (kind) {
        case 'http':
            return `${statusText(status)}（HTTP ${status}）` + (detail ? `：${detail}` : '');
        case 'timeout':
            return `服务在 ${Math.round(detail / 1000)} 秒内没有应答（请求已放弃）`;
        case 'network':
            // The browser's own text ("Failed to fetch") is English and says no more than this.
            return '无法连接服务，请检查网络或服务是否在运行';
        case 'aborted':
            return '请求已取消';
        default:
            return detail || '应答格式错误';
    }
}

// One request. Resolves with the Response for 2xx answers other than 204 (the server's
// "Request does not have content" means nothing was found); rejects with ApiError otherwise.
// `signal` lets the caller cancel (e.g. an upload).
// The session's CSRF token, sent with every change; and who is told when the server asks for a
// login (the session module shows the login form).
let csrfToken = '';
let onUnauthorized = null;
export function setCsrfToken(token) {
    csrfToken = token || '';
}
export function setUnauthorizedHandler(handler) {
    onUnauthorized = handler;
}

export async function request(method, url, { body, timeoutMs = DEFAULT_TIMEOUT_MS, signal, headers = {} } = {}) {
    const controller = new AbortController();
    let timedOut = false;
    const timer = setTimeout(() => {
        timedOut = true;
        controller.abort();
    }, timeoutMs);
    const onCancel = () => controller.abort();
    if (signal) {
        if (signal.aborted) controller.abort();
        else signal.addEventListener('abort', onCancel, { once: true });
    }
    let response;
    try {
        const sent = { ...headers };
        if (method !== 'GET' && csrfToken) sent['X-CSRF-Token'] = csrfToken;
        response = await fetch(url, { method, body, headers: sent, signal: controller.signal, cache: 'no-store' });
    } catch (err) {
        if (timedOut) throw new ApiError('timeout', { url, detail: timeoutMs });
        if (signal && signal.aborted) throw new ApiError('aborted', { url });
        throw new ApiError('network', { url });
    } finally {
        clearTimeout(timer);
        if (signal) signal.removeEventListener('abort', onCancel);
    }
    if (response.status === 401 && onUnauthorized) onUnauthorized();
    if (!response.ok || response.status === 204) {
        throw new ApiError('http', { status: response.status, reason: response.statusText, url, detail: await errorText(response) });
    }
    return response;
}

// The message of a refusal in the JSON error shape ({"error":{"code","message"}}), if any.
async function errorText(response) {
    if (!(response.headers.get('Content-Type') || '').startsWith('application/json')) return '';
    try {
        const doc = JSON.parse(await response.text());
        return (doc && doc.error && doc.error.message) || '';
    } catch {
        return '';
    }
}

// A v2 route: JSON in, JSON out (null for an empty answer such as 204).
export async function callJson(method, url, payload) {
    const options = payload === undefined ? {} : { body: JSON.stringify(payload), headers: { 'Content-Type': 'application/json' } };
    let response;
    try {
        response = await request(method, url, options);
    } catch (err) {
        if (err.kind === 'http' && err.status === 204) return null;
        throw err;
    }
    const text = await response.text();
    return text ? JSON.parse(text) : null;
}

// The JSON documents come as text/html; read the text and parse it ourselves.
async function getDocument(url, listName) {
    const response = await request('GET', url);
    const text = await response.text();
    let doc;
    try {
        doc = JSON.parse(text);
    } catch {
        throw new ApiError('format', { url, detail: '服务的应答不是 JSON' });
    }
    const list = doc && doc.data && doc.data[listName];
    if (!Array.isArray(list)) {
        throw new ApiError('format', { url, detail: `服务的应答缺少列表（data.${listName}）` });
    }
    return { list, statusCode: doc.statusCode, errorMgs: doc.errorMgs || '' };
}

// Values travel percent-encoded; the server decodes the whole URL before it splits the query
// at "&", so an "&" (or a "=" that could form a key) inside a value cannot be sent at all.
export function unsafeQueryValue(value) {
    return /[&=]/.test(value);
}

export const api = {
    deviceList: () => getDocument('/KORVA/deviceList', 'deviceInfo'),
    // Both keys must be present for the server to run the query; empty means "any".
    queryDevices: (deviceNo, phoneNum) =>
        getDocument(
            `/KORVA/deviceList?deviceNo=${encodeURIComponent(deviceNo)}&phoneNum=${encodeURIComponent(phoneNum)}`,
            'deviceInfo'),
    uploadStatusList: () => getDocument('/KORVA/deviceList?uploadStatus=1', 'deviceInfo'),
    packageList: () => getDocument('/KORVA/packageList', 'packageList'),
    progressList: () => getDocument('/KORVA/getProgress', 'progressList'),

    exportDeviceList: () => request('GET', '/KORVA/downLoadExcel'),

    uploadBlock: (params, blob, signal) => {
        const query = Object.entries(params)
            .map(([k, v]) => `${k}=${encodeURIComponent(String(v))}`)
            .join('&');
        // Allow a slow link (64 KiB/s) on top of the usual time-out.
        return request('POST', `/KORVA/uploadFile?${query}`, { body: blob, signal, timeoutMs: DEFAULT_TIMEOUT_MS + (blob.size / 65536) * 1000 });
    },

    // The server stores each imported row with a 50 ms pause: allow for that in the time-out.
    importDeviceList: (fileName, bytes, rowCount) =>
        request('POST', `/KORVA/uploadExcel?name=${encodeURIComponent(fileName)}`, {
            body: bytes,
            timeoutMs: DEFAULT_TIMEOUT_MS + rowCount * 100,
        }),

    deletePackage: (id) =>
        request('PUT', '/KORVA/deletePackage', { body: JSON.stringify({ id: Number(id) }) }),
    stopUpload: () => request('PUT', '/KORVA/stopUpload'),
};

// File name from a Content-Disposition header ("attachment;filename=...").
export function attachmentName(response, fallback) {
    const header = response.headers.get('Content-Disposition') || '';
    const match = /filename\*?=(?:UTF-8'')?"?([^";]+)"?/i.exec(header);
    if (!match) return fallback;
    try {
        return decodeURIComponent(match[1]);
    } catch {
        return match[1];
    }
}

// Query text from the members that have a value.
export function queryString(params = {}) {
    const search = new URLSearchParams();
    for (const [key, value] of Object.entries(params)) {
        if (value !== undefined && value !== null && value !== '') search.set(key, String(value));
    }
    const text = search.toString();
    return text ? `?${text}` : '';
}

const seg = encodeURIComponent;

// The console's routes under /KORVA/v2/.
export const v2 = {
    status: () => callJson('GET', '/KORVA/v2/status'),
    devices: (params) => callJson('GET', `/KORVA/v2/devices${queryString(params)}`),
    device: (devSN) => callJson('GET', `/KORVA/v2/devices/${seg(devSN)}`),
    editDevice: (devSN, changes) => callJson('PATCH', `/KORVA/v2/devices/${seg(devSN)}`, changes),
    bulk: (body) => callJson('POST', '/KORVA/v2/devices/bulk', body),
    bulkPreview: (body) => callJson('POST', '/KORVA/v2/devices/bulk/preview', body),
    releasePin: (devSN) => callJson('DELETE', `/KORVA/v2/devices/${seg(devSN)}/pin`),
    upgrades: (params) => callJson('GET', `/KORVA/v2/upgrades${queryString(params)}`),
    packages: () => callJson('GET', '/KORVA/v2/packages'),
    rollout: (id) => callJson('GET', `/KORVA/v2/packages/${seg(id)}/rollout`),
    plan: (id) => callJson('GET', `/KORVA/v2/packages/${seg(id)}/plan`),
    setPlan: (id, plan) => callJson('PUT', `/KORVA/v2/packages/${seg(id)}/plan`, plan),
    planPreview: (id, plan) => callJson('POST', `/KORVA/v2/packages/${seg(id)}/plan/preview`, plan),
    setSchedule: (id, schedule) => callJson('PUT', `/KORVA/v2/packages/${seg(id)}/plan/schedule`, schedule),
    failed: (id, params) => callJson('GET', `/KORVA/v2/packages/${seg(id)}/failed${queryString(params)}`),
    failedCsvUrl: (id) => `/KORVA/v2/packages/${seg(id)}/failed.csv`,
    releaseHeld: (id, which) => callJson('POST', `/KORVA/v2/packages/${seg(id)}/held/release`, which),
    // action: pause, resume, advance or cancel.
    planAction: (id, action) => callJson('POST', `/KORVA/v2/packages/${seg(id)}/plan/${action}`),
    rolloutState: (id, state, params) => callJson('GET', `/KORVA/v2/packages/${seg(id)}/rollout/${seg(state)}${queryString(params)}`),
    dashboard: (params) => callJson('GET', `/KORVA/v2/dashboard${queryString(params)}`),
    deviceEvents: (devSN, params) => callJson('GET', `/KORVA/v2/devices/${seg(devSN)}/events${queryString(params)}`),
    exportUrl: (params) => `/KORVA/v2/devices/export${queryString(params)}`,
};

// A POST whose body may be large, with the upload's progress (fetch reports none). Resolves with
// the JSON answer; rejects with ApiError as request() does.
export function postWithProgress(url, body, { onProgress, timeoutMs = DEFAULT_TIMEOUT_MS } = {}) {
    return new Promise((resolve, reject) => {
        const xhr = new XMLHttpRequest();
        xhr.open('POST', url);
        xhr.timeout = timeoutMs;
        if (csrfToken) xhr.setRequestHeader('X-CSRF-Token', csrfToken);
        xhr.setRequestHeader('Content-Type', 'application/octet-stream');
        if (onProgress) xhr.upload.onprogress = (e) => onProgress(e.loaded, e.lengthComputable ? e.total : 0);
        xhr.onerror = () => reject(new ApiError('network', { url }));
        xhr.ontimeout = () => reject(new ApiError('timeout', { url, detail: timeoutMs }));
        xhr.onload = () => {
            if (xhr.status === 401 && onUnauthorized) onUnauthorized();
            let doc = null;
            try {
                doc = xhr.responseText ? JSON.parse(xhr.responseText) : null;
            } catch {
                doc = null;
            }
            if (xhr.status >= 200 && xhr.status < 300) resolve(doc);
            else reject(new ApiError('http', { status: xhr.status, reason: xhr.statusText, url, detail: (doc && doc.error && doc.error.message) || '' }));
        };
        xhr.send(body);
    });
}
