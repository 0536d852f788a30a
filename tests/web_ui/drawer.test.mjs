// The device drawer against the real service: a terminal's identity, presence and versions; its
// pending requests edited in place and shown in the list without a reload; the identity pin
// released; its upgrade history; and the files it uploaded, downloaded whole.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, englishLeaks, launchBrowser, newPage, openPage, rowCells, screenshot, skipReason, uploadPackage } from './harness.mjs';

const SN = 'SNDR0001';
const service = await Service.start();
const skip = await skipReason(service, { needsTerminal: true });
let browser;
let page;
let terminal;

after(async () => {
    if (terminal) terminal.close();
    if (browser) await browser.close();
    await service.stop();
});

const stored = async () => (await (await fetch(`${service.base}/KORVA/v2/devices/${SN}`)).json()).device;
const section = (id) => page.locator(`#drawer-body [data-section="${id}"]`);

describe('device drawer', { skip: skip || false }, () => {
    before(async () => {
        await uploadPackage(service.base, { type: 'TDR', app: 'V9.0' });
        terminal = await new Terminal({ sn: SN, type: 'TDR', plate: '苏E55555', phone: '13600000006', app: 'V1.0' }).connect(service.tcpPort);
        await terminal.register(service.base);
        // The report was answered with the package: an upgrade attempt is under way.
        terminal.progress(35);
        const log = service.path('DevLog', SN, '202612081620', 'trip.log');
        fs.mkdirSync(path.dirname(log), { recursive: true });
        fs.writeFileSync(log, 'line one\nline two\n');
        browser = await launchBrowser();
        page = await newPage(browser, service);
        await openPage(page, '#/devices');
        await page.click(`#device-canvas [data-key="${SN}"] [data-col="devSN"]`);
        await page.locator('#device-drawer[open]').waitFor();
        await section('files').locator('table').waitFor();
    });

    test('shows the terminal: identity, presence, versions, history', async () => {
        assert.equal(await page.textContent('#drawer-title'), SN);
        const identity = await section('identity').textContent();
        for (const text of ['ID-SNDR0001', 'TDR', '苏E55555', '13600000006', '已绑定当前设备ID']) assert.ok(identity.includes(text), text);
        assert.equal(await page.textContent('#drawer-online'), '在线');
        assert.match(await section('presence').textContent(), /连接时间\d{4}-\d\d-\d\d \d\d:\d\d:\d\d/);
        assert.equal(await section('versions').locator('[data-field="AppVersion"]').textContent(), 'V1.0');
        const attempt = section('upgrades').locator('tbody tr').first();
        await page.waitForFunction(() => /35%/.test(document.querySelector('#drawer-upgrades tbody tr')?.textContent || ''));
        assert.equal(await attempt.getAttribute('data-state'), 'running');
        assert.match(await attempt.textContent(), /升级中/);
        await screenshot(page, 'devices-drawer');
    });

    test('collected files are listed and download whole', async () => {
        const row = section('files').locator('tr[data-name="trip.log"]');
        assert.match(await row.textContent(), /日志trip\.log18 B2026-12-08 16:20/);
        const [download] = await Promise.all([page.waitForEvent('download'), row.locator('a', { hasText: '下载' }).click()]);
        assert.equal(download.suggestedFilename(), 'trip.log');
        assert.equal(fs.readFileSync(await download.path(), 'utf8'), 'line one\nline two\n');
    });

    test('pending requests are edited in place and the list shows them at once', async () => {
        const form = page.locator('#drawer-pending');
        await form.locator('[name=isAutoUpdate]').check();
        await form.locator('[name=GetLogFile]').check();
        await form.locator('[name=ConfigCmd]').fill('set apn=cmnet');
        const sent = page.waitForRequest((r) => r.method() === 'PATCH');
        await form.locator('[name=ConfigCmd]').press('Enter');
        assert.deepEqual(JSON.parse((await sent).postData()), { isAutoUpdate: true, GetLogFile: true, ConfigCmd: 'set apn=cmnet' });
        await page.locator('#drawer-pending-message.message-success').waitFor();
        const device = await stored();
        assert.deepEqual([device.isAutoUpdate, device.GetLogFile, device.GetPrintFile, device.ConfigCmd], [true, true, false, 'set apn=cmnet']);
        // Behind the drawer the row changed without a refresh of the page.
        await page.waitForFunction((sn) => document.querySelector(`#device-canvas [data-key="${sn}"] [data-col="pending"]`)?.textContent === '强制升级配置指令日志', SN);

        // Unticking writes only that member.
        await form.locator('[name=GetLogFile]').uncheck();
        const second = page.waitForRequest((r) => r.method() === 'PATCH');
        await page.click('#drawer-save');
        assert.deepEqual(JSON.parse((await second).postData()), { GetLogFile: false });
        await page.waitForFunction((sn) => document.querySelector(`#device-canvas [data-key="${sn}"] [data-col="pending"]`)?.textContent === '强制升级配置指令', SN);
    });

    test('the identity pin is released after a confirmation', async () => {
        await page.click('#drawer-release-pin');
        await page.locator('#confirm-dialog[open]').waitFor();
        await page.click('#confirm-dialog button[value=confirm]');
        await page.waitForFunction(() => /未绑定/.test(document.querySelector('#drawer-pin-state')?.textContent || ''));
        assert.equal((await stored()).IdentityPinned, false);
        assert.equal(await page.isVisible('#drawer-release-pin'), false);
    });

    test('Escape closes the drawer and the row keeps what was saved', async () => {
        await page.keyboard.press('Escape');
        await page.locator('#device-drawer[open]').waitFor({ state: 'detached' });
        assert.equal((await rowCells(page, SN)).pending, '强制升级配置指令');
        assert.deepEqual(await englishLeaks(page), []);
        assert.deepEqual(page.consoleErrors, []);
    });
});
