// Shared pieces of the browser tests: the real service in a temporary application directory,
// headless Chromium, a small fake terminal speaking the device protocol, GBK encoding, artifacts.
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { apiProblem, waitFor } from './service.mjs';

export { apiProblem, freePort, Service, waitFor } from './service.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '../..');

export const CHROMIUM = process.env.WAYFARER_CHROMIUM || '/usr/bin/chromium';
export const ARTIFACTS = process.env.WAYFARER_UI_ARTIFACTS || path.join(repo, 'build', 'web_ui_artifacts');

// Reason to skip the tests of a file, found at run time, or null when everything they need answers.
// With WAYFARER_UI_REQUIRE_API=1 a missing part is a failure instead (for a build that has it all).
export async function skipReason(service, { needsTerminal = false } = {}) {
    let reason = service.startProblem;
    if (!reason) {
        const problem = await apiProblem(service.base);
        if (problem) reason = `the management API is not there yet: GET /KORVA/packageList ${problem}`;
    }
    if (!reason && needsTerminal && !(await service.tcpOpen())) {
        reason = `the device TCP port ${service.tcpPort} does not accept connections`;
    }
    if (reason && process.env.WAYFARER_UI_REQUIRE_API === '1') throw new Error(reason);
    return reason;
}

export async function launchBrowser() {
    return chromium.launch({
        executablePath: CHROMIUM,
        headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync'],
    });
}

export function newContext(browser, service) {
    return browser.newContext({ baseURL: service.base, viewport: { width: 1440, height: 900 }, acceptDownloads: true, locale: 'zh-CN' });
}

// A page in its own context, or in `context` (e.g. one from loggedInContext).
export async function newPage(browser, service, context = null) {
    const page = await (context || (await newContext(browser, service))).newPage();
    page.consoleErrors = [];
    page.on('pageerror', (err) => page.consoleErrors.push(String(err)));
    return page;
}

// A context logged in through the API: its cookie serves the pages and context.request, whose
// changes carry context.csrf. A password the account must change first is changed to `next`.
export async function loggedInContext(browser, service, name, password, next) {
    const context = await newContext(browser, service);
    const answer = async (response) => {
        if (!response.ok()) throw new Error(`${response.url()} answered ${response.status()}`);
        return response.json();
    };
    let me = await answer(await context.request.post('/KORVA/v2/auth/login', { data: { name, password } }));
    if (me.passwordChangeRequired) {
        me = await answer(await context.request.post('/KORVA/v2/auth/password', {
            headers: { 'X-CSRF-Token': me.csrfToken }, data: { currentPassword: password, newPassword: next },
        }));
    }
    context.csrf = me.csrfToken;
    return context;
}

// Opens one of the pages ('#/devices' ...) and waits until it is the one shown.
export async function openPage(page, hash) {
    await page.goto(`/${hash}`);
    await page.waitForSelector('body[data-ready="true"]');
    await page.waitForSelector(`#page-${hash.replace('#/', '').split('/')[0]}:not([hidden])`);
}

export async function screenshot(page, name) {
    fs.mkdirSync(ARTIFACTS, { recursive: true });
    await page.screenshot({ path: path.join(ARTIFACTS, `${name}.png`), fullPage: true, animations: 'disabled' });
}

// GBK encoding for the exchange file (what the service and spreadsheet programs write). Node can
// decode GBK but not encode it, so the table is built once by decoding every double-byte code.
let gbkTable = null;
export function encodeGbk(text) {
    if (!gbkTable) {
        gbkTable = new Map();
        const decoder = new TextDecoder('gbk');
        for (let lead = 0x81; lead <= 0xfe; ++lead) {
            for (let trail = 0x40; trail <= 0xfe; ++trail) {
                if (trail === 0x7f) continue;
                const ch = decoder.decode(Uint8Array.of(lead, trail));
                if (ch.length === 1 && ch !== '\ufffd' && !gbkTable.has(ch)) gbkTable.set(ch, [lead, trail]);
            }
        }
    }
    const out = [];
    for (const ch of text) {
        const code = ch.codePointAt(0);
        if (code < 0x80) out.push(code);
        else if (gbkTable.has(ch)) out.push(...gbkTable.get(ch));
        else throw new Error(`no GBK code for ${ch}`);
    }
    return Buffer.from(out);
}

// The command codes of the packet header; answers carry the code of the packet they answer.
export const Command = Object.freeze({ Report: 0x0001, Progress: 0x0002, Command: 0x0003, File: 0x0004 });

// CRC-16/XMODEM: polynomial 0x1021, initial 0, no reflection, no final XOR.
export function crc16(bytes) {
    let crc = 0;
    for (const b of bytes) {
        crc ^= b << 8;
        for (let i = 0; i < 8; ++i) crc = crc & 0x8000 ? ((crc << 1) ^ 0x1021) & 0xffff : (crc << 1) & 0xffff;
    }
    return crc;
}

export function progressBody(percent) {
    const body = Buffer.alloc(4);
    body.writeUInt32BE(percent, 0);
    return body;
}

export function packPacket(cmd, devId, serialNo, body) {
    const header = Buffer.alloc(40);
    header[0] = 0x5a;
    header[1] = 0xa5;
    header.writeUInt16BE(cmd, 2);
    Buffer.from(devId, 'utf8').copy(header, 4, 0, 32);
    header.writeUInt16BE(serialNo & 0xffff, 36);
    header.writeUInt16BE(body.length, 38);
    const packet = Buffer.concat([header, body, Buffer.alloc(2)]);
    packet.writeUInt16BE(crc16(packet.subarray(2, 40 + body.length)), 40 + body.length);
    return packet;
}

// A terminal as the service sees it: one TCP connection, device reports and progress reports.
export class Terminal {
    constructor(info) {
        this.info = { devId: `ID-${info.sn}`, type: 'T1', plate: '', phone: '', app: 'V1.0.0', mcu: 'M1.0', fourG: 'G1.0', gnss: 'N1.0', smart: 'S1.0', ...info };
        this.serial = 1;
        this.packets = [];
        this.buffer = Buffer.alloc(0);
    }

    async connect(port) {
        this.socket = net.connect({ host: '127.0.0.1', port });
        await new Promise((resolve, reject) => {
            this.socket.once('connect', resolve);
            this.socket.once('error', reject);
        });
        this.socket.on('error', () => {});
        this.socket.on('data', (chunk) => {
            this.buffer = Buffer.concat([this.buffer, chunk]);
            while (this.buffer.length >= 42) {
                const length = 42 + this.buffer.readUInt16BE(38);
                if (this.buffer.length < length) break;
                const packet = this.buffer.subarray(0, length);
                this.buffer = this.buffer.subarray(length);
                this.packets.push({ cmd: packet.readUInt16BE(2), serialNo: packet.readUInt16BE(36), body: packet.subarray(40, length - 2) });
            }
        });
        return this;
    }

    reportBody() {
        const body = Buffer.alloc(304);
        const put = (text, offset, size, encode = (t) => Buffer.from(t, 'utf8')) => encode(text).copy(body, offset, 0, size);
        put(this.info.sn, 0, 16);
        put(this.info.type, 16, 64);
        put(this.info.plate, 80, 16, encodeGbk);
        put(this.info.phone, 96, 16);
        put(this.info.app, 112, 32);
        put(this.info.mcu, 144, 32);
        put(this.info.fourG, 176, 32);
        put(this.info.gnss, 208, 32);
        put(this.info.smart, 240, 32);
        return body;
    }

    send(cmd, body) {
        this.socket.write(packPacket(cmd, this.info.devId, this.serial++, body));
    }

    // The first report of an unknown terminal registers it, but without a package for its type it
    // is not answered; so wait for it in the device list, then report again as a known terminal,
    // which is answered and leaves the service holding the full record for this connection.
    async register(base) {
        this.send(Command.Report, this.reportBody());
        const url = `${base}/KORVA/deviceList?deviceNo=${encodeURIComponent(this.info.sn)}&phoneNum=`;
        await waitFor(async () => {
            const response = await fetch(url);
            if (response.status !== 200) return false;
            return JSON.parse(await response.text()).data.deviceInfo.some((d) => d.deviceNo === this.info.sn);
        }, { timeoutMs: 10000, intervalMs: 100, what: `${this.info.sn} in the device list` });
        return this.report();
    }

    // A known terminal's report is answered with an upgrade answer or a file request.
    async report() {
        const seen = this.packets.length;
        this.send(Command.Report, this.reportBody());
        return waitFor(() => this.packets.slice(seen).find((p) => p.cmd === Command.Report || p.cmd === Command.File),
            { timeoutMs: 10000, what: `the answer to the report of ${this.info.sn}` });
    }

    progress(percent) {
        this.send(Command.Progress, progressBody(percent));
    }

    close() {
        if (this.socket) this.socket.destroy();
    }
}

// A package for a device type, uploaded in one block through the original route (logins off).
export async function uploadPackage(base, { type, name = `${type}.bin`, app = '', bytes = Buffer.from(`package of ${type}`) }) {
    const query = new URLSearchParams({ name, type, app, mcu: '', fourG: '', gnss: '', smart: '', blockIndex: '0', blockSize: '1', totalLength: String(bytes.length), uploadTime: '20260101000000' });
    const response = await fetch(`${base}/KORVA/uploadFile?${query}`, { method: 'POST', body: bytes });
    if (response.status !== 200) throw new Error(`package upload answered ${response.status}`);
    const list = JSON.parse(await (await fetch(`${base}/KORVA/packageList`)).text());
    return list.data.packageList.find((p) => p.deviceType === type);
}

// The rows the device list draws, top to bottom, by serial number.
export function listedSerials(page) {
    return page.$$eval('#device-canvas [role=row][data-key]:not([hidden])', (rows) => rows
        .sort((a, b) => Number(a.getAttribute('aria-rowindex')) - Number(b.getAttribute('aria-rowindex')))
        .map((r) => r.dataset.key));
}

// The text of every cell of a drawn row, by column.
export function rowCells(page, sn) {
    return page.locator(`#device-canvas [role=row][data-key="${sn}"] [data-col]`).evaluateAll((cells) =>
        Object.fromEntries(cells.map((c) => [c.dataset.col, c.textContent.trim()])));
}

// What a page shows may not carry the developers' or the browser's English.
export async function englishLeaks(page) {
    const text = await page.evaluate(() => document.body.innerText);
    return text.match(/Failed to fetch|deviceNo|phoneNum|undefined|NaN|null|not implemented|internal error|\[object/g) || [];
}
