// Screenshots of the operator console at 1366x768 for docs/: the real service with a fleet
// written into WFS.db, a package with a staged rollout that a failed install paused, terminals
// upgrading, collected files; then each view.
// Usage: node tools/console_screenshots/shoot.mjs [wayfarer executable] [output dir]
// (playwright-core from tests/web_ui: run `npm ci` there first; uses /usr/bin/chromium).
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { Service, Terminal, encodeGbk, launchBrowser, uploadPackage, waitFor } from '../../tests/web_ui/harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, '../..');
process.env.WAYFARER_EXE = path.resolve(process.argv[2] || 'build/dev/bin/wayfarer');
const out = path.resolve(process.argv[3] || path.join(repo, 'docs'));
const VIEW = { width: 1366, height: 768 };
fs.mkdirSync(out, { recursive: true });

const PROVINCES = '京沪粤苏浙闽川鄂湘豫鲁冀晋辽吉黑皖赣桂琼';
function seed(db, count) {
    const sql = `WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ${count})
INSERT INTO Tab_DeviceInfo(devId, devSN, devType, LicensePlateNumber, PhoneNumber, AppVersion, McuVersion, FourGVersion,
    GnssVersion, SmartModule, Reserve, isAutoUpdate, ConfigCmd, UpgradeCompletionTime, GetLogFile, GetIndexFile, GetPrintFile,
    GetRunInfoFile, IdentityPinned, LastReportTime)
SELECT 'D' || printf('%010d', 7300000 + i), 'SN' || printf('%07d', 2026000 + i), CASE i % 4 WHEN 0 THEN 'T7' WHEN 1 THEN 'T7' WHEN 2 THEN 'M3' ELSE 'X5' END,
    substr('${PROVINCES}', 1 + i % 20, 1) || char(65 + i % 12) || printf('%05d', (i * 7919) % 100000),
    '13' || printf('%09d', (i * 104729) % 1000000000), 'V5.' || (2 + i % 2) || '.' || (i % 4) || ' build2207' || printf('%02d', 10 + i % 20),
    'M2.' || (i % 3), 'G1.' || (i % 2), 'N3.1', 'S1.0', '', i % 53 = 0, CASE WHEN i % 61 = 0 THEN 'set apn=cmnet' ELSE '' END,
    CASE WHEN i % 5 = 0 THEN strftime('%s', 'now') - i * 3600 ELSE 0 END, i % 71 = 0, i % 89 = 0, 0, 0, 1, strftime('%s', 'now') - i * 97
FROM n;`;
    const run = spawnSync('sqlite3', [db], { input: sql, encoding: 'utf8' });
    if (run.status !== 0) throw new Error(run.stderr);
}

async function ready(page, hash) {
    await page.goto(`/${hash}`);
    await page.waitForSelector('body[data-ready="true"]');
}

const service = await Service.start({ extra: 'RolloutCheckSeconds=0.5\nDashboardSampleSeconds=1\n' });
const login = await Service.start({ login: true });
const terminals = [];
let browser;
try {
    seed(service.path('WFS.db'), 1240);
    const pkg = await uploadPackage(service.base, { type: 'T7', name: 'T7_V5.3.1_build220711.bin', app: 'V5.3.1 build220711', bytes: Buffer.alloc(3 * 1024 * 1024, 1) });
    await uploadPackage(service.base, { type: 'M3', name: 'M3_V2.0.4.bin', app: 'V5.3.9', bytes: Buffer.alloc(1024 * 1024, 2) });
    const OLD = 'V5.2.0 build220601';
    const NEW = 'V5.3.1 build220711';
    const json = async (method, url, body) => (await fetch(`${service.base}${url}`, { method, body: body && JSON.stringify(body) })).json();
    // The first stage lists the terminals below; the next ones take shares of the type.
    const live = [['SN2026004', 35], ['SN2026008', 62], ['SN2026012', 88], ['SN2026016', 100], ['SN2026020', 100], ['SN2026024', 100]];
    await json('PUT', `/KORVA/v2/packages/${pkg.id}/plan`, {
        stages: [{ serials: live.map(([sn]) => sn), minMinutes: 120, successPercent: 90 }, { percent: 5, minMinutes: 240, successPercent: 95 },
            { percent: 25, minMinutes: 720, successPercent: 95 }, { percent: 100 }],
        pauseAtFailures: 3,
        pauseAtFailurePercent: 10,
    });
    const terminal = async (sn, app = OLD) => {
        const t = await new Terminal({ sn, devId: `D${String(7300000 + Number(sn.slice(2)) - 2026000).padStart(10, '0')}`, type: 'T7', plate: '京C72202', phone: '13911112222', app }).connect(service.tcpPort);
        terminals.push(t);
        await t.report();
        return t;
    };
    // Terminals of the first stage download; those at 100 come back, one with the package's
    // version, one still on its old one: a failure that pauses the rollout.
    for (const [sn, percent] of live) (await terminal(sn)).progress(percent);
    // Others of the type wait for their stage; one is forced through.
    for (const sn of ['SN2026028', 'SN2026032', 'SN2026036', 'SN2026040', 'SN2026053']) await terminal(sn);
    for (const [sn, app] of [['SN2026020', NEW], ['SN2026024', OLD]]) {
        await waitFor(async () => (await json('GET', `/KORVA/v2/upgrades?devSN=${sn}`)).items[0]?.lastProgress === 100, { what: `${sn} at 100` });
        await terminal(sn, app);
    }
    await waitFor(async () => (await json('GET', `/KORVA/v2/packages/${pkg.id}/plan`)).state === 'paused', { what: 'the pause' });
    await terminal('SN2026044');
    // An impostor of it, refused: shown in its drawer apart from its decision.
    const impostor = await new Terminal({ sn: 'SN2026044', devId: 'D0007391377', type: 'T7', app: OLD }).connect(service.tcpPort);
    terminals.push(impostor);
    await impostor.report();
    const files = [['DevLog', 'run_20261208.log', 48213], ['DevIndex', 'index_20261208.idx', 5120], ['RunInfo', 'trip_20261208.bin', 96000]];
    for (const [store, name, size] of files) {
        const file = service.path(store, 'SN2026008', '202612081620', name);
        fs.mkdirSync(path.dirname(file), { recursive: true });
        fs.writeFileSync(file, Buffer.alloc(size, 65));
    }

    browser = await launchBrowser();
    const context = await browser.newContext({ baseURL: service.base, viewport: VIEW, locale: 'zh-CN', deviceScaleFactor: 1 });
    const page = await context.newPage();
    const shot = (name) => page.screenshot({ path: path.join(out, `console-${name}.png`), animations: 'disabled' });

    await ready(page, '#/devices');
    await page.waitForSelector('#device-canvas [data-key]');
    await page.waitForFunction(() => Number(document.querySelector('#devices-running')?.textContent) >= 3);
    await page.click('#device-canvas [data-key="SN2026004"] [data-col="select"] input');
    await page.click('#device-canvas [data-key="SN2026008"] [data-col="select"] input');
    await page.click('#device-canvas [data-key="SN2026012"] [data-col="select"] input');
    await page.selectOption('#filter-online', '');
    await shot('devices');

    await page.click('#bulk-none');
    await page.click('#device-canvas [data-key="SN2026008"] [data-col="devSN"]');
    await page.locator('#drawer-files').waitFor();
    await page.waitForFunction(() => /62%/.test(document.querySelector('#drawer-upgrades')?.textContent || ''));
    await page.locator('#drawer-body [data-section="pending"]').evaluate((n) => n.scrollIntoView());
    await shot('drawer');
    await page.keyboard.press('Escape');

    await ready(page, `#/rollout/${pkg.id}`);
    await page.waitForSelector('#plan-banner[data-state="paused"]');
    await page.waitForSelector('#rollout-live li');
    await shot('rollout-plan');
    await page.click('#rollout-counts [data-state="downloading"]');
    await page.waitForSelector('#rollout-drill-table tr[data-key]');
    await page.locator('#rollout-sections [data-section="counts"]').evaluate((n) => n.scrollIntoView());
    await shot('rollout');

    await ready(page, '#/devices');
    await page.fill('#device-search', 'SN2026044');
    await page.click('#device-canvas [data-key="SN2026044"] [data-col="devSN"]');
    await page.locator('#drawer-identity-conflict').waitFor();
    await page.locator('#drawer-body [data-section="decision"]').evaluate((n) => n.scrollIntoView());
    await shot('drawer-decision');
    await page.keyboard.press('Escape');

    await ready(page, '#/packages');
    await page.waitForSelector('#packages-table tr[data-key]');
    await shot('packages');

    await ready(page, '#/upgrades');
    await page.waitForSelector('#upgrades-table tr[data-sn]');
    await shot('upgrades');

    await ready(page, '#/dashboard');
    await page.waitForSelector('#page-dashboard[data-drawn]');
    await shot('dashboard');

    // An edited export: requests set, one row exported before its terminal's upgrade.
    const exported = new TextDecoder('gbk').decode(await (await fetch(`${service.base}/KORVA/v2/devices/export?format=csv&devType=T7`)).arrayBuffer());
    const lines = exported.split('\n').filter(Boolean).slice(0, 40).map((line, i) => {
        const cells = line.split(',');
        if (i === 3 || i === 7) cells[10] = '1';
        if (i === 5) cells[11] = 'reboot';
        if (i === 9) {
            cells[5] = 'V5.1.0 build220301';
            cells[16] = '2026-11-01 08:00:00';
        }
        return cells.join(',');
    });
    await ready(page, '#/exchange');
    await page.check('#import-versions');
    await page.setInputFiles('#import-file', { name: 'devices-T7.csv', mimeType: 'text/csv', buffer: encodeGbk(`${lines.join('\n')}\n`) });
    await page.waitForSelector('#import-preview tr[data-key]');
    await page.locator('#import-preview-card').evaluate((n) => n.scrollIntoView());
    await shot('import');

    // Logins on: the login form, then the administration an admin sees.
    const gate = await (await browser.newContext({ baseURL: login.base, viewport: VIEW, locale: 'zh-CN' })).newPage();
    await gate.goto('/');
    await gate.locator('#login-view:not([hidden])').waitFor();
    await gate.fill('#login-name', 'admin');
    await gate.screenshot({ path: path.join(out, 'console-login.png'), animations: 'disabled' });
    const first = fs.readFileSync(login.path('initial-admin-password'), 'utf8').trim();
    await gate.fill('#login-password', first);
    await gate.click('#login-submit');
    await gate.locator('#password-view:not([hidden])').waitFor();
    for (const id of ['#password-current', '#password-new', '#password-repeat']) await gate.fill(id, id === '#password-current' ? first : 'console-admin-1');
    await gate.click('#password-submit');
    await gate.waitForSelector('body[data-ready="true"]');
    await gate.goto('/#/admin');
    await gate.waitForSelector('#accounts-table tr[data-key]');
    await gate.fill('#account-new-name', 'zhang.wei');
    await gate.selectOption('#account-new-role', 'operator');
    await gate.fill('#account-new-password', 'handed-over-1');
    await gate.click('#account-create');
    await gate.waitForSelector('#accounts-table tr[data-key="zhang.wei"]');
    await gate.click('#audit-search');
    await gate.waitForFunction(() => !!document.querySelector('#audit-table [data-action="account_create"]'));
    await gate.evaluate(() => window.scrollTo(0, 0));
    await gate.screenshot({ path: path.join(out, 'console-admin.png'), animations: 'disabled' });
    console.log(`screenshots written to ${out}`);
} finally {
    terminals.forEach((t) => t.close());
    if (browser) await browser.close();
    await service.stop();
    await login.stop();
}
