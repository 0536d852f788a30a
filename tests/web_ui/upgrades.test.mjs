// Upgrade records in the browser: a terminal's progress reports move its bar by themselves, on
// the records page and in its device-list row, up to completion at 100; the finished upgrade
// stays listed after the terminal leaves and comes back.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, englishLeaks, launchBrowser, newPage, openPage, screenshot, skipReason, uploadPackage } from './harness.mjs';

const SN = 'SNUI0200';
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

const item = () => page.locator(`#upgrades-table tr[data-sn="${SN}"]`).first();
// The page refreshes by itself: wait for the bar to show the value, without reloading.
const waitForBar = (locator, percent) =>
    locator.locator(`[role=progressbar][aria-valuenow="${percent}"]`).waitFor({ timeout: 15000 });

describe('upgrade records', { skip: skip || false }, () => {
    before(async () => {
        browser = await launchBrowser();
        page = await newPage(browser, service);
    });

    test('no upgrade yet shows an empty list', async () => {
        await openPage(page, '#/upgrades');
        await page.locator('#upgrades-table .empty-row').waitFor();
        assert.equal(await page.textContent('#stat-reporting'), '0');
    });

    test('the device list follows a terminal\'s progress by itself', async () => {
        await uploadPackage(service.base, { type: 'T400', app: 'V9.0' });
        terminal = await new Terminal({ sn: SN, type: 'T400', plate: '浙D13579', phone: '13600000004' }).connect(service.tcpPort);
        await terminal.register(service.base);
        await openPage(page, '#/devices');
        const row = page.locator(`#device-canvas [data-key="${SN}"]`);
        await row.waitFor();
        terminal.progress(30);
        await waitForBar(row, 30);
        assert.equal(await row.locator('[data-col="upgrade"] [data-status]').getAttribute('data-status'), 'upgrading');
        await page.waitForFunction(() => document.querySelector('#devices-running')?.textContent === '1');
        await screenshot(page, 'devices-progress');
    });

    test('progress reports move the bar until it reaches 100', async () => {
        await openPage(page, '#/upgrades');
        await waitForBar(item(), 30);
        assert.equal(await item().getAttribute('data-state'), 'running');
        terminal.progress(70);
        await waitForBar(item(), 70);
        assert.equal(await item().locator('.pct').textContent(), '70%');
        await screenshot(page, 'upgrades');
        terminal.progress(100);
        await waitForBar(item(), 100);
        await page.waitForFunction((sn) => document.querySelector(`#upgrades-table tr[data-sn="${sn}"]`)?.dataset.state === 'completed', SN);
        assert.match(await item().textContent(), /已完成/);
        assert.equal(await page.textContent('#stat-completed'), '1');
        assert.equal(await page.textContent('#stat-reporting'), '0');
    });

    test('the finished upgrade stays after the terminal leaves and reconnects', async () => {
        terminal.close();
        terminal = await new Terminal({ sn: SN, type: 'T400', app: 'V9.0' }).connect(service.tcpPort);
        await terminal.report();
        await page.click('#upgrades-tabs [data-state="completed"]');
        await page.waitForFunction((sn) => document.querySelectorAll('#upgrades-table tr[data-sn]').length === 1
            && document.querySelector(`#upgrades-table tr[data-sn="${sn}"]`)?.dataset.state === 'completed', SN);
        await page.click('#upgrades-tabs [data-state="running"]');
        await page.locator('#upgrades-table .empty-row').waitFor();
        assert.deepEqual(await englishLeaks(page), []);
    });

    test('the device list shows the completion', async () => {
        await openPage(page, '#/devices');
        const row = page.locator(`#device-canvas [data-key="${SN}"]`);
        await row.locator('[data-col="upgrade"] [data-status="done"]').waitFor();
        assert.match(await row.locator('[data-col="upgrade"]').textContent(), /已完成\s*\d\d-\d\d \d\d:\d\d/);
        assert.match(await row.locator('[data-col="upgrade"] [data-status]').getAttribute('title'), /^升级完成于 \d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/);
        assert.deepEqual(page.consoleErrors, []);
    });

    test('a part of the serial, the type and the package find the record; another type does not', async () => {
        await openPage(page, '#/upgrades');
        await page.click('#upgrades-tabs [data-state=""]');
        await page.locator('#upgrades-package option', { hasText: 'T400' }).waitFor({ state: 'attached' });
        const listed = (expected) => page.waitForFunction((sns) => [...document.querySelectorAll('#upgrades-table tr[data-sn]')]
            .map((r) => r.dataset.sn).join() === sns.join(), expected);
        await page.fill('#upgrades-sn', SN.slice(2, 7).toLowerCase());
        await page.fill('#upgrades-type', 'T400');
        await page.selectOption('#upgrades-package', { label: (await page.locator('#upgrades-package option', { hasText: 'T400' }).textContent()) });
        await page.click('#upgrades-search [type=submit]');
        await listed([SN]);
        await page.fill('#upgrades-type', 'T999');
        await page.click('#upgrades-search [type=submit]');
        await page.locator('#upgrades-table .empty-row').waitFor();
        assert.match(await page.textContent('#upgrades-table .empty-row'), /没有符合条件的升级记录/);
    });
});
