// Device list in the browser: terminals that reported are listed with every column, and the
// search by serial number and phone filters them through the API's query.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, launchBrowser, newPage, openPage, screenshot, skipReason } from './harness.mjs';

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

const rowKeys = () => page.$$eval('#devices-table tbody tr[data-key]', (rows) => rows.map((r) => r.dataset.key).sort());

describe('devices page', { skip: skip || false }, () => {
    before(async () => {
        const reports = [
            { sn: 'SNUI0001', type: 'T100', plate: '京A12345', phone: '13800000001', app: 'V5.3.0 build220711' },
            { sn: 'SNUI0002', type: 'T200', plate: '沪B67890', phone: '13900000002', app: 'V2.0.1' },
        ];
        for (const report of reports) {
            const terminal = await new Terminal(report).connect(service.tcpPort);
            terminals.push(terminal);
            await terminal.register(service.base);
        }
        browser = await launchBrowser();
        page = await newPage(browser, service);
        await openPage(page, '#/devices');
    });

    test('lists a terminal that reported, with the fields of its report', async () => {
        const row = page.locator('#devices-table tr[data-key="SNUI0001"]');
        await row.waitFor();
        const cells = Object.fromEntries(await row.locator('td').evaluateAll((tds) => tds.map((td) => [td.dataset.col, td.textContent.trim()])));
        assert.equal(cells.deviceNo, 'SNUI0001');
        assert.equal(cells.deviceId, 'ID-SNUI0001');
        assert.equal(cells.deviceType, 'T100');
        assert.equal(cells.plateNo, '京A12345', 'the plate travels GBK-encoded and must read back');
        assert.equal(cells.phone, '13800000001');
        assert.equal(cells.AppVersion, 'V5.3.0 build220711');
        assert.equal(cells.McuVersion, 'M1.0');
        assert.equal(cells.FourGVersions, 'G1.0');
        assert.equal(cells.GnssVersions, 'N1.0');
        assert.equal(cells.SmartModule, 'S1.0');
        assert.deepEqual(await rowKeys(), ['SNUI0001', 'SNUI0002']);
        assert.equal(await page.textContent('#devices-count'), '2');
        await screenshot(page, 'devices');
    });

    const searches = [
        { name: 'serial number', deviceNo: 'SNUI0002', phone: '', expect: ['SNUI0002'] },
        { name: 'phone', deviceNo: '', phone: '13800000001', expect: ['SNUI0001'] },
        { name: 'serial number and phone that do not match each other', deviceNo: 'SNUI0001', phone: '13900000002', expect: [] },
        { name: 'unknown serial number', deviceNo: 'NOSUCH', phone: '', expect: [] },
    ];
    for (const s of searches) {
        test(`search by ${s.name} filters the list`, async () => {
            await page.fill('#search-device-no', s.deviceNo);
            await page.fill('#search-phone', s.phone);
            const answer = page.waitForResponse((r) => r.url().includes('/KORVA/deviceList?deviceNo='));
            await page.click('#search-submit');
            const response = await answer;
            assert.equal(response.status(), 200);
            assert.ok(response.url().includes('phoneNum='), 'both keys must be sent for the server to run the query');
            await page.waitForFunction((n) => document.querySelector('#devices-count')?.textContent === String(n), s.expect.length);
            assert.deepEqual(await rowKeys(), s.expect);
        });
    }

    test('"show all" brings back every terminal', async () => {
        await page.click('#search-reset');
        await page.waitForFunction(() => document.querySelector('#devices-count')?.textContent === '2');
        assert.deepEqual(await rowKeys(), ['SNUI0001', 'SNUI0002']);
        assert.deepEqual(page.consoleErrors, []);
    });
});
