// Finding things in the browser: the device list's filters live in the address, so a link
// opens the same list; named filters are kept; the columns shown fit a 1366 px screen and are
// chosen once; the audit trail reads in words; and the pages switch to English and back.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, launchBrowser, listedSerials, newPage, screenshot, skipReason } from './harness.mjs';

const service = await Service.start();
const skip = await skipReason(service, { needsTerminal: true });
let browser;
let page;
const terminals = [];

after(async () => {
    terminals.forEach((t) => t.close());
    if (browser) await browser.close();
    await service.stop();
});

const REPORTS = [
    { sn: 'SNVW0001', type: 'T100', plate: '京A10001', phone: '13800000011', app: 'V1.0' },
    { sn: 'SNVW0002', type: 'T200', plate: '京A10002', phone: '13800000012', app: 'V1.0' },
    { sn: 'SNVW0003', type: 'T200', plate: '沪B10003', phone: '13800000013', app: 'V2.0' },
];

async function open(hash, target = page) {
    await target.goto(`/${hash}`);
    await target.waitForSelector('body[data-ready="true"]');
}

async function expectListed(serials, target = page) {
    await target.waitForFunction((keys) => {
        const rows = [...document.querySelectorAll('#device-canvas [role=row][data-key]:not([hidden])')];
        return document.querySelector('#devices-count')?.textContent === String(keys.length)
            && rows.map((r) => r.dataset.key).sort().join() === keys.join();
    }, serials);
    assert.deepEqual((await listedSerials(target)).sort(), serials);
}

describe('views of the pages', { skip: skip || false }, () => {
    before(async () => {
        for (const report of REPORTS) {
            const terminal = await new Terminal(report).connect(service.tcpPort);
            await terminal.register(service.base);
            terminals.push(terminal);
        }
        browser = await launchBrowser();
        page = await newPage(browser, service);
        await page.setViewportSize({ width: 1366, height: 768 });
    });

    test('the first columns fit 1366 px, and a chosen column stays chosen', async () => {
        await open('#/devices');
        await expectListed(REPORTS.map((r) => r.sn));
        const fits = () => page.evaluate(() => {
            const scroller = document.getElementById('device-scroll');
            return { list: document.getElementById('device-list').scrollWidth, area: scroller.clientWidth, page: document.documentElement.scrollWidth, view: innerWidth };
        });
        let size = await fits();
        assert.ok(size.list <= size.area, `the list is ${size.list} px wide in ${size.area} px`);
        assert.ok(size.page <= size.view, `the page is ${size.page} px wide in ${size.view} px`);
        for (const [width, height] of [[1366, 768], [1920, 1080]]) {
            await page.setViewportSize({ width, height });
            // Neither size scrolls the page itself: the list scrolls inside.
            await page.waitForFunction(() => document.documentElement.scrollHeight <= innerHeight);
            await screenshot(page, `devices-${width}`);
        }
        await page.setViewportSize({ width: 1366, height: 768 });

        await page.click('.column-chooser summary');
        await page.locator('#column-choices input[value="devId"]').check();
        await page.locator('#column-choices input[value="LastReportTime"]').uncheck();
        await page.reload();
        await page.waitForSelector('body[data-ready="true"]');
        await page.locator('#device-head [data-col="devId"]').waitFor();
        assert.equal(await page.locator('#device-head [data-col="LastReportTime"]').count(), 0);
        assert.equal(await page.locator('#device-canvas [data-key="SNVW0001"] [data-col="devId"]').textContent(), 'ID-SNVW0001');
        size = await fits();
        assert.ok(size.list <= size.area, `the list is ${size.list} px wide in ${size.area} px`);
    });

    test('a filtered list\'s address opens the same list elsewhere', async () => {
        await page.fill('#filter-type', 'T200');
        await page.press('#filter-type', 'Enter');
        await page.selectOption('#filter-version-column', 'AppVersion');
        await page.fill('#filter-version-value', 'V1.0');
        await page.press('#filter-version-value', 'Enter');
        await expectListed(['SNVW0002']);
        const address = new URL(page.url());
        assert.match(address.hash, /^#\/devices\?/);
        assert.equal(new URLSearchParams(address.hash.split('?')[1]).get('devType'), 'T200');

        // Another browser, as a link sent to a colleague.
        const other = await newPage(browser, service);
        await open(address.hash, other);
        await expectListed(['SNVW0002'], other);
        assert.equal(await other.inputValue('#filter-type'), 'T200');
        assert.equal(await other.inputValue('#filter-version-value'), 'V1.0');
        await other.context().close();
    });

    test('a named filter is kept and brings its list back', async () => {
        await page.fill('#saved-filter-name', '旧版 T200');
        await page.click('#saved-filter-save');
        await page.click('#search-reset');
        await expectListed(REPORTS.map((r) => r.sn));
        await page.reload();
        await page.waitForSelector('body[data-ready="true"]');
        await page.selectOption('#saved-filter', '旧版 T200');
        await expectListed(['SNVW0002']);
        assert.equal(await page.inputValue('#filter-type'), 'T200');
        await page.click('#search-reset');
    });

    test('the audit trail reads in words and by date', async () => {
        const answer = await fetch(`${service.base}/KORVA/v2/devices/SNVW0001`, {
            method: 'PATCH', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ isAutoUpdate: true }),
        });
        assert.equal(answer.status, 200);
        await open('#/admin');
        await page.selectOption('#audit-action', 'device_edit');
        const today = await page.evaluate(() => {
            const d = new Date();
            return `${d.getFullYear()}-${String(d.getMonth() + 1).padStart(2, '0')}-${String(d.getDate()).padStart(2, '0')}`;
        });
        await page.fill('#audit-from', today);
        await page.fill('#audit-to', today);
        await page.click('#audit-search');
        const cell = page.locator('#audit-table [data-action="device_edit"]').first();
        await cell.waitFor();
        assert.equal(await cell.textContent(), '修改设备待办');
        const summary = await page.locator('#audit-table tbody tr').first().locator('.audit-summary').textContent();
        assert.equal(summary, '序列号：SNVW0001，设置：强制升级：是');
        assert.equal(await page.locator('#audit-action option[value="rollout_pause"]').textContent(), '暂停发布');
        // A range that ended yesterday holds none of today's rows.
        await page.fill('#audit-from', '2000-01-01');
        await page.fill('#audit-to', '2000-01-02');
        await page.click('#audit-search');
        await page.waitForFunction(() => document.getElementById('audit-summary').textContent === '没有记录');
    });

    test('the pages switch to English and back, and remember it', async () => {
        await open('#/devices');
        await page.click('#lang-switch');
        await page.waitForSelector('html[lang="en"] body[data-ready="true"]');
        assert.equal((await page.textContent('nav a[data-page="devices"]')).trim(), '▤Devices');
        assert.equal(await page.getAttribute('#device-search', 'placeholder'), 'Part of a serial, plate, phone…');
        await page.locator('#device-head [data-col="devSN"]', { hasText: 'Serial' }).waitFor();
        await page.waitForFunction(() => document.querySelector('#device-canvas [data-key="SNVW0002"] [data-col="online"]')?.textContent === 'Online');
        await screenshot(page, 'devices-english');
        await open('#/upgrades');
        assert.equal(await page.textContent('#page-upgrades h1'), 'Upgrades');
        await page.click('#lang-switch');
        await page.waitForSelector('html[lang="zh-CN"] body[data-ready="true"]');
        assert.equal(await page.textContent('#page-upgrades h1'), '升级记录');
    });
});
