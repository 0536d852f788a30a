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

function describe(kind, status, reason, detail) {
    switch (kind) {
        case 'http':
            return `HTTP ${status} "${reason}"` + (detail ? `：${detail}` : '');
        case 'timeout':
            return `服务在 ${Math.round(detail / 1000)} 秒内没有应答（请求已放弃）`;
        case 'network':
            return `无法连接服务${detail ? `（${detail}）` : ''}`;
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
        throw new ApiError('network', { url, detail: err && err.message });
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
        throw new ApiError('format', { url, detail: `${url} 的应答不是 JSON` });
    }
    const list = doc && doc.data && doc.data[listName];
    if (!Array.isArray(list)) {
        throw new ApiError('format', { url, detail: `${url} 的应答缺少 data.${listName}` });
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
