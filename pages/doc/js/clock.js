// The service's clock: every time shown, and the label an upload's file name starts with, is the
// service host's local time, whatever the browser's clock or time zone says.
import { v2 } from './api.js';

let skewMs = 0; // service epoch minus browser epoch
let zoneMs = 0; // service local wall time minus UTC
let synced = false;

// Takes the offsets from GET /KORVA/v2/status; the answer is returned for callers that need it.
export async function syncClock() {
    const sent = Date.now();
    const status = await v2.status();
    const received = Date.now();
    skewMs = status.serverTimeMs - Math.round((sent + received) / 2);
    // serverTime is the host's wall clock ("yyyy-MM-ddTHH:mm:ss", an offset may follow).
    const wall = Date.parse(`${status.serverTime.slice(0, 19)}Z`);
    if (!Number.isNaN(wall)) zoneMs = Math.round((wall - status.serverTimeMs) / 60000) * 60000;
    synced = true;
    return status;
}

export const clockSynced = () => synced;

export function serverNowMs() {
    return Date.now() + skewMs;
}

const pad = (n, w = 2) => String(n).padStart(w, '0');

function wall(ms) {
    const d = new Date(ms + zoneMs);
    return {
        y: d.getUTCFullYear(), mo: pad(d.getUTCMonth() + 1), d: pad(d.getUTCDate()),
        h: pad(d.getUTCHours()), mi: pad(d.getUTCMinutes()), s: pad(d.getUTCSeconds()),
    };
}

// Seconds since the epoch (0 for none) as the service's "yyyy-MM-dd HH:mm:ss".
export function formatEpoch(seconds) {
    if (!seconds) return '';
    const t = wall(seconds * 1000);
    return `${t.y}-${t.mo}-${t.d} ${t.h}:${t.mi}:${t.s}`;
}

// The service's time of day now, for "updated at" labels.
export function formatServerClock() {
    const t = wall(serverNowMs());
    return `${t.h}:${t.mi}:${t.s}`;
}

// "3 分钟前" for a time in seconds since the epoch, measured on the service's clock.
export function formatAgo(seconds) {
    if (!seconds) return '';
    const diff = Math.max(0, Math.round(serverNowMs() / 1000 - seconds));
    if (diff < 60) return `${diff} 秒前`;
    if (diff < 3600) return `${Math.floor(diff / 60)} 分钟前`;
    if (diff < 86400) return `${Math.floor(diff / 3600)} 小时前`;
    return `${Math.floor(diff / 86400)} 天前`;
}

// yyyyMMddHHmmss from the service's own "serverTime" text.
export function labelFromServerTime(serverTime) {
    return serverTime.slice(0, 19).replace(/\D/g, '');
}
