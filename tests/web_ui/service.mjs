// The service under test, started from the built executable in a temporary application
// directory; shared by the browser tests and the API document's client check.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '../..');

export async function waitFor(predicate, { timeoutMs = 15000, intervalMs = 50, what = 'condition' } = {}) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
        const value = await predicate();
        if (value) return value;
        if (Date.now() > deadline) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}`);
        await new Promise((r) => setTimeout(r, intervalMs));
    }
}

function canListen(port) {
    return new Promise((resolve) => {
        const server = net.createServer();
        server.once('error', () => resolve(false));
        server.listen(port, '0.0.0.0', () => server.close(() => resolve(true)));
    });
}

// A port nobody listens on, below the kernel's ephemeral range (from 32768), so no outgoing
// connection (the browser makes many) takes it before the service binds it.
const handedOut = new Set();
export async function freePort() {
    for (let attempt = 0; attempt < 200; ++attempt) {
        const port = 20000 + Math.floor(Math.random() * 12000);
        if (handedOut.has(port) || !(await canListen(port))) continue;
        handedOut.add(port);
        return port;
    }
    throw new Error('no free port between 20000 and 32000');
}

function portOpen(port) {
    return new Promise((resolve) => {
        const socket = net.connect({ host: '127.0.0.1', port });
        socket.once('connect', () => {
            socket.destroy();
            resolve(true);
        });
        socket.once('error', () => resolve(false));
    });
}

function catchesSigint(pid) {
    try {
        const line = fs.readFileSync(`/proc/${pid}/status`, 'utf8').split('\n').find((l) => l.startsWith('SigCgt:'));
        return line ? (BigInt(`0x${line.slice(7).trim()}`) & 2n) !== 0n : false;
    } catch {
        return false;
    }
}

function findExecutable() {
    if (process.env.WAYFARER_EXE) return process.env.WAYFARER_EXE;
    for (const dir of ['build/test/bin', 'build/bin', 'build/release/bin']) {
        const candidate = path.join(repo, dir, 'wayfarer');
        if (fs.existsSync(candidate)) return candidate;
    }
    return null;
}

export function copyTree(from, to) {
    fs.mkdirSync(to, { recursive: true });
    for (const entry of fs.readdirSync(from, { withFileTypes: true })) {
        if (entry.name === 'CMakeLists.txt') continue;
        const src = path.join(from, entry.name);
        if (entry.isDirectory()) copyTree(src, path.join(to, entry.name));
        else fs.copyFileSync(src, path.join(to, entry.name));
    }
}

// The pages as the build lays them out in Web/: with the chart library beside them
// (pages/CMakeLists.txt), when they come from the source tree.
const CHART_JS = '/usr/share/javascript/chart.js/chart.min.js';
export function copyPages(from, to) {
    copyTree(from, to);
    const library = path.join(to, 'doc', 'lib', 'chart.min.js');
    if (!fs.existsSync(library) && fs.existsSync(CHART_JS)) {
        fs.mkdirSync(path.dirname(library), { recursive: true });
        fs.copyFileSync(CHART_JS, library);
    }
}

// Null when GET /KORVA/packageList answers 200 within the time-out, else what it did instead.
export async function apiProblem(base) {
    try {
        const response = await fetch(`${base}/KORVA/packageList`, { signal: AbortSignal.timeout(5000) });
        return response.status === 200 ? null : `answers ${response.status} "${response.statusText}"`;
    } catch (err) {
        return err.name === 'TimeoutError' ? 'sends no answer within 5 s' : `fails: ${err.message}`;
    }
}

// The service under test. WAYFARER_UI_SERVICE="http://127.0.0.1:PORT tcp=PORT" points the tests
// at one that is already running; otherwise the built executable is started in a fresh
// application directory with its own free ports.
export class Service {
    // login: true runs the service with operator logins on (the other tests see the pages as
    // before logins existed); extra: more config.ini lines.
    static async start({ login = false, extra = '' } = {}) {
        const service = new Service();
        const external = process.env.WAYFARER_UI_SERVICE;
        if (external) {
            const [base, tcp] = external.split(/\s+/);
            service.base = base;
            service.tcpPort = Number(tcp.replace('tcp=', ''));
            return service;
        }
        const exe = findExecutable();
        if (!exe) throw new Error('the wayfarer executable was not found: build it, or set WAYFARER_EXE');
        const webDir = process.env.WAYFARER_WEB_DIR || path.join(repo, 'pages');
        service.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'wayfarer-ui-'));
        fs.copyFileSync(exe, path.join(service.dir, 'wayfarer'));
        fs.chmodSync(path.join(service.dir, 'wayfarer'), 0o755);
        copyPages(webDir, path.join(service.dir, 'Web'));
        const httpPort = await freePort();
        const tcpPort = await freePort();
        const httpPort2 = await freePort();
        fs.writeFileSync(path.join(service.dir, 'config.ini'),
            `[LocalParam]\nTcpPort=${tcpPort}\nHttpPort=${httpPort}\nHttpPort2=${httpPort2}\nNetIP=127.0.0.1\n` +
            `OperatorLogin=${login ? 1 : 0}\n${extra}`);
        service.base = `http://127.0.0.1:${httpPort}`;
        service.tcpPort = tcpPort;
        service.output = '';
        service.process = spawn(path.join(service.dir, 'wayfarer'), [], { cwd: service.dir, stdio: ['ignore', 'pipe', 'pipe'] });
        const collect = (chunk) => {
            service.output = (service.output + chunk.toString()).slice(-20000);
        };
        service.process.stdout.on('data', collect);
        service.process.stderr.on('data', collect);
        service.exited = new Promise((resolve) => service.process.once('exit', resolve));
        // The test process must not leave the service behind, whatever ends it.
        process.once('exit', () => {
            if (service.process.exitCode === null && service.process.signalCode === null) service.process.kill('SIGKILL');
            fs.rmSync(service.dir, { recursive: true, force: true });
        });
        // Start-up installs its console-control handler last; the port is open by then or soon after.
        const ended = () => service.process.exitCode !== null || service.process.signalCode !== null;
        try {
            await waitFor(async () => ended() || catchesSigint(service.process.pid) || (await portOpen(httpPort)),
                { timeoutMs: 15000, what: 'the end of start-up' });
            await waitFor(async () => ended() || (await portOpen(httpPort)), { timeoutMs: 3000, what: 'the management port' });
        } catch {
            service.startProblem = `the service runs but its management port ${httpPort} is not open`;
        }
        if (ended()) {
            const output = service.output;
            await service.stop();
            throw new Error(`the service ended at start-up:\n${output}`);
        }
        return service;
    }

    // Waited for: start-up may end its wait on the management port, which opens before this one.
    async tcpOpen() {
        return waitFor(() => portOpen(this.tcpPort), { timeoutMs: 10000, what: 'the device TCP port' })
            .catch(() => false);
    }

    path(...parts) {
        return this.dir ? path.join(this.dir, ...parts) : null;
    }

    async stop() {
        if (!this.process) return;
        if (this.process.exitCode === null && this.process.signalCode === null) {
            // SIGTERM ends the service; SIGINT would only be logged, as a console Ctrl+C is.
            this.process.kill('SIGTERM');
            // The deadline's timer is cleared at once: a pending one keeps node from exiting.
            let deadline;
            const ended = await Promise.race([this.exited.then(() => true), new Promise((r) => { deadline = setTimeout(() => r(false), 5000); })]);
            clearTimeout(deadline);
            if (!ended) {
                this.process.kill('SIGKILL');
                await this.exited;
            }
        }
        fs.rmSync(this.dir, { recursive: true, force: true });
    }
}
