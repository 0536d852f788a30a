// Upgrade progress in the browser: a terminal's progress reports appear as bars that refresh by
// themselves, on the progress page and in the device list, up to completion at 100.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, launchBrowser, newPage, openPage, screenshot, skipReason } from './harness.mjs';

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

const item = () => page.locator(`#progress-list li[data-sn="${SN}"]`);
// The page refreshes by itself: wait for the bar to show the value, without reloading.
const waitForBar = (locator, percent) =>
    locator.locator(`[role=progressbar][aria-valuenow="${percent}"]`).waitFor({ timeout: 15000 });

describe('upgrade progress', { skip: skip || false }, () => {
    before(async () => {
        terminal = await new Terminal({ sn: SN, type: 'T400', plate: '浙D13579', phone: '13600000004' }).connect(service.tcpPort);
        await terminal.register(service.base);
        browser = await launchBrowser();
        page = await newPage(browser, service);
        await openPage(page, '#/upgrades');
    });

    test('no terminal reporting progress shows an empty list', async () => {
        await page.locator('#progress-list li.empty').waitFor();
        assert.equal(await page.textContent('#stat-reporting'), '0');
    });

    test('the device list follows a terminal\'s progress by itself', async () => {
        await openPage(page, '#/devices');
        const row = page.locator(`#devices-table tr[data-key="${SN}"]`);
        await row.waitFor();
        assert.equal(await row.locator('td[data-col="progress"] [data-status]').getAttribute('data-status'), 'idle');
        terminal.progress(30);
        await waitForBar(row, 30);
        assert.equal(await row.locator('td[data-col="progress"] [data-status]').getAttribute('data-status'), 'upgrading');
        await screenshot(page, 'devices-progress');
    });

    test('progress reports move the bar until it reaches 100', async () => {
        await openPage(page, '#/upgrades');
        await waitForBar(item(), 30);
        terminal.progress(70);
        await waitForBar(item(), 70);
        assert.equal(await item().locator('.pct').textContent(), '70%');
        await screenshot(page, 'upgrades');
        terminal.progress(100);
        await waitForBar(item(), 100);
        assert.equal(await item().locator('.pct').textContent(), '100%');
        assert.match(await item().getAttribute('class'), /done/);
        assert.equal(await page.textContent('#stat-reporting'), '1');
    });

    test('the device list shows the completion', async () => {
        await openPage(page, '#/devices');
        const row = page.locator(`#devices-table tr[data-key="${SN}"]`);
        await waitForBar(row, 100);
        await page.waitForFunction((sn) => {
            const td = document.querySelector(`#devices-table tr[data-key="${sn}"] td[data-col="lastUpdateTime"]`);
            return td && /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/.test(td.textContent.trim());
        }, SN);
        assert.equal(await row.locator('td[data-col="progress"] [data-status]').getAttribute('data-status'), 'done');
        assert.match(await row.locator('td[data-col="progress"]').textContent(), /100%已完成/);
        assert.deepEqual(page.consoleErrors, []);
    });
});
