// Device list in the browser: terminals that reported are listed with every column; one search
// box finds a part of a serial number, plate, phone or type; filters show as chips; the order
// comes from the service; checked rows or everything a filter takes get bulk requests behind a
// confirmation that counts them (and, past the configured size, has the count typed); the
// keyboard reaches rows and the drawer.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, englishLeaks, launchBrowser, listedSerials, newPage, openPage, rowCells, screenshot, skipReason, uploadPackage, waitFor } from './harness.mjs';

// Past two terminals a bulk request wants its count typed.
const service = await Service.start({ extra: 'BulkConfirmTypedCount=2\n' });
const skip = await skipReason(service, { needsTerminal: true });
let browser;
let page;
const terminals = {};

after(async () => {
    Object.values(terminals).forEach((t) => t.close());
    if (browser) await browser.close();
    await service.stop();
});

const REPORTS = [
    { sn: 'SNUI0001', type: 'T100', plate: '京A12345', phone: '13800000001', app: 'V5.3.0 build220711' },
    { sn: 'SNUI0002', type: 'T200', plate: '沪B67890', phone: '13900000002', app: 'V2.0.1' },
    { sn: 'SNUI0003', type: 'T200', plate: '京C72202', phone: '13700000003', app: 'V2.0.1' },
];

async function device(sn) {
    const response = await fetch(`${service.base}/KORVA/v2/devices/${sn}`);
    assert.equal(response.status, 200);
    return (await response.json()).device;
}

// Searches or filters, then waits for the list the service answers with.
async function expectListed(expected) {
    await page.waitForFunction((n) => document.querySelector('#devices-count')?.textContent === String(n), expected.length);
    await page.waitForFunction((keys) => {
        const rows = [...document.querySelectorAll('#device-canvas [role=row][data-key]:not([hidden])')];
        return rows.map((r) => r.dataset.key).sort().join() === [...keys].sort().join();
    }, expected);
    assert.deepEqual((await listedSerials(page)).sort(), [...expected].sort());
}

describe('devices page', { skip: skip || false }, () => {
    before(async () => {
        for (const report of REPORTS) {
            terminals[report.sn] = await new Terminal(report).connect(service.tcpPort);
            await terminals[report.sn].register(service.base);
        }
        browser = await launchBrowser();
        page = await newPage(browser, service);
        await openPage(page, '#/devices');
    });

    test('lists a terminal that reported, with the fields of its report', async () => {
        await page.locator('#device-canvas [data-key="SNUI0001"]').waitFor();
        // The first view leaves some columns out to fit the screen: every one, as chosen.
        await page.click('.column-chooser summary');
        for (const box of await page.locator('#column-choices input').all()) await box.check();
        await page.click('.column-chooser summary');
        await page.locator('#device-canvas [data-key="SNUI0001"] [data-col="devId"]:not(:empty)').waitFor();
        const cells = await rowCells(page, 'SNUI0001');
        assert.equal(cells.devSN, 'SNUI0001');
        assert.equal(cells.devId, 'ID-SNUI0001');
        assert.equal(cells.devType, 'T100');
        assert.equal(cells.LicensePlateNumber, '京A12345', 'the plate travels GBK-encoded and must read back');
        assert.equal(cells.PhoneNumber, '13800000001');
        assert.equal(cells.AppVersion, 'V5.3.0 build220711');
        assert.equal(cells.McuVersion, 'M1.0');
        assert.equal(cells.FourGVersion, 'G1.0');
        assert.equal(cells.GnssVersion, 'N1.0');
        assert.equal(cells.SmartModule, 'S1.0');
        assert.equal(cells.online, '在线');
        assert.equal(cells.pending, '无');
        assert.match(cells.LastReportTime, /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/);
        await expectListed(['SNUI0001', 'SNUI0002', 'SNUI0003']);
        // The list reads the console's API: no export file is written for it.
        const exchange = service.path('Excel');
        assert.deepEqual(exchange && fs.existsSync(exchange) ? fs.readdirSync(exchange) : [], []);
        await screenshot(page, 'devices');
    });

    const searches = [
        { name: 'a part of a plate', q: 'C722', expect: ['SNUI0003'] },
        { name: 'a Chinese part of a plate', q: '京', expect: ['SNUI0001', 'SNUI0003'] },
        { name: 'a part of a phone number', q: '0000000', expect: ['SNUI0001', 'SNUI0002', 'SNUI0003'] },
        { name: 'the middle of a serial number', q: 'UI0002', expect: ['SNUI0002'] },
        { name: 'a type', q: 'T100', expect: ['SNUI0001'] },
        { name: 'text nobody has', q: 'NOSUCH', expect: [] },
    ];
    for (const s of searches) {
        test(`searching for ${s.name} lists the terminals that have it`, async () => {
            const answer = page.waitForResponse((r) => r.url().includes('/KORVA/v2/devices?') && new URL(r.url()).searchParams.get('q') === s.q);
            await page.fill('#device-search', s.q);
            await page.press('#device-search', 'Enter');
            assert.equal((await answer).status(), 200);
            await expectListed(s.expect);
            assert.match(await page.textContent('#filter-chips'), new RegExp(`搜索 “${s.q}”`));
        });
    }

    test('filters become chips, combine with the search, and a chip removes its filter', async () => {
        await page.fill('#device-search', '京');
        await page.press('#device-search', 'Enter');
        await page.fill('#filter-type', 'T200');
        await page.press('#filter-type', 'Enter');
        await expectListed(['SNUI0003']);
        assert.match(await page.textContent('#filter-chips'), /型号 = T200/);
        await page.selectOption('#filter-version-op', 'Not');
        await page.fill('#filter-version-value', 'V2.0.1');
        await page.press('#filter-version-value', 'Enter');
        await expectListed([]);
        assert.equal(await page.textContent('#device-empty'), '没有符合条件的设备');
        await page.click('#filter-chips button[aria-label^="移除条件：APP版本"]');
        await page.click('#filter-chips button[aria-label^="移除条件：搜索"]');
        await expectListed(['SNUI0002', 'SNUI0003']);
        assert.equal(await page.inputValue('#device-search'), '', 'the chip clears its control too');

        terminals.SNUI0002.close();
        // The filter asks once the service has seen the terminal go: a list that answered before
        // keeps its rows until the filter changes.
        await waitFor(async () => (await device('SNUI0002')).online === false, { what: 'SNUI0002 offline' });
        await page.selectOption('#filter-online', 'false');
        await expectListed(['SNUI0002']);
        assert.equal((await rowCells(page, 'SNUI0002')).online, '离线');
        await page.click('#search-reset');
        await expectListed(['SNUI0001', 'SNUI0002', 'SNUI0003']);
    });

    test('sorting asks the service for the order', async () => {
        const header = page.locator('#device-head [data-col="LicensePlateNumber"] button');
        await header.click();
        await page.waitForFunction(() => document.querySelector('#device-head [data-col="LicensePlateNumber"]').getAttribute('aria-sort') === 'ascending');
        const asc = page.waitForResponse((r) => /sort=LicensePlateNumber&order=desc/.test(r.url()));
        await header.click();
        await asc;
        await page.waitForFunction(() => document.querySelector('#device-canvas [aria-rowindex="2"]')?.dataset.key === 'SNUI0002');
        // Plates compare by their UTF-8 bytes: 沪 before 京 descending.
        assert.deepEqual(await listedSerials(page), ['SNUI0002', 'SNUI0003', 'SNUI0001']);
    });

    test('ticked rows get a bulk request after a confirmation that counts them', async () => {
        await page.click('#device-canvas [data-key="SNUI0001"] [data-col="select"] input');
        await page.click('#device-canvas [data-key="SNUI0003"] [data-col="select"] input');
        assert.equal(await page.textContent('#bulk-count'), '2');
        await page.click('#bulk-bar [data-bulk="command"]');
        await page.locator('#confirm-dialog[open]').waitFor();
        assert.match(await page.textContent('#confirm-dialog .dialog-title'), /2 台设备/);
        await page.fill('#bulk-command', 'reboot now');
        const sent = page.waitForRequest((r) => r.url().endsWith('/KORVA/v2/devices/bulk'));
        await page.press('#bulk-command', 'Enter');
        assert.deepEqual(JSON.parse((await sent).postData()), { filter: {}, serials: ['SNUI0001', 'SNUI0003'], set: { ConfigCmd: 'reboot now' } });
        await page.waitForFunction(() => document.querySelector('#device-canvas [data-key="SNUI0003"] [data-col="pending"]')?.textContent === '配置指令');
        assert.equal((await device('SNUI0001')).ConfigCmd, 'reboot now');
        assert.equal((await device('SNUI0002')).ConfigCmd, '');
        assert.equal(await page.isVisible('#bulk-bar'), false, 'the selection ends with the request');

        // Escape cancels: nothing is sent.
        await page.click('#device-canvas [data-key="SNUI0002"] [data-col="select"] input');
        await page.click('#bulk-bar [data-bulk="force"]');
        await page.locator('#confirm-dialog[open]').waitFor();
        await page.keyboard.press('Escape');
        await page.locator('#confirm-dialog[open]').waitFor({ state: 'detached' });
        assert.equal((await device('SNUI0002')).isAutoUpdate, false);
        await page.click('#bulk-none');
    });

    test('"all matching the filter" sends the filter, not a list', async () => {
        await page.selectOption('#filter-pending', 'command');
        await expectListed(['SNUI0001', 'SNUI0003']);
        await page.check('#select-all');
        assert.equal(await page.textContent('#bulk-count'), '2');
        await page.click('#bulk-bar [data-bulk="clear"]');
        await page.locator('#confirm-dialog[open]').waitFor();
        assert.match(await page.textContent('#confirm-dialog .dialog-body'), /2 台设备/);
        await screenshot(page, 'devices-bulk');
        const sent = page.waitForRequest((r) => r.url().endsWith('/KORVA/v2/devices/bulk'));
        await page.click('#confirm-dialog button[value=confirm]');
        const body = JSON.parse((await sent).postData());
        assert.deepEqual(body.filter, { pending: 'command' });
        assert.equal(body.serials, undefined);
        await expectListed([]);
        assert.equal((await device('SNUI0003')).ConfigCmd, '');
        await page.click('#search-reset');
        await expectListed(['SNUI0001', 'SNUI0002', 'SNUI0003']);
    });

    test('the keyboard moves through the rows and opens and closes the drawer', async () => {
        await page.focus('#device-scroll');
        await page.keyboard.press('Home');
        await page.keyboard.press('ArrowDown');
        const focused = await page.evaluate(() => document.activeElement.dataset.key);
        assert.equal(focused, (await listedSerials(page))[1]);
        await page.keyboard.press('Enter');
        await page.locator('#device-drawer[open]').waitFor();
        assert.equal(await page.textContent('#drawer-title'), focused);
        await page.keyboard.press('Escape');
        await page.locator('#device-drawer[open]').waitFor({ state: 'detached' });
        assert.equal(await page.evaluate(() => document.activeElement.dataset.key), focused, 'focus returns to the row');
        assert.deepEqual(await englishLeaks(page), []);
        assert.deepEqual(page.consoleErrors, []);
    });
    // Last: the package it uploads and the forced upgrade change what the tests above see.
    test('a forced upgrade of many terminals names the package and has the count typed', async () => {
        await uploadPackage(service.base, { type: 'T200', app: 'V2.0.1' });
        await page.check('#select-all');
        await page.click('#bulk-bar [data-bulk="force"]');
        await page.locator('#confirm-dialog[open]').waitFor();
        // SNUI0002 (T200) went offline in a test above.
        assert.match(await page.textContent('#bulk-presence'), /在线 2 台，离线 1 台/);
        const packages = await page.textContent('#bulk-packages');
        assert.match(packages, /T200.bin（型号 T200；APP版本 V2.0.1）：2 台，在线 1、离线 1，已是此版本 2 台/);
        assert.match(await page.textContent('#confirm-dialog .dialog-extra'), /1 台设备的型号没有升级包/);
        assert.match(await page.textContent('#bulk-offered'), /2 台/);
        const confirm = page.locator('#confirm-dialog button[value=confirm]');
        await page.fill('#confirm-typed', '2');
        assert.equal(await confirm.isDisabled(), true);
        await page.press('#confirm-typed', 'Enter'); // no way around the count
        assert.equal(await page.isVisible('#confirm-dialog[open]'), true);
        await page.fill('#confirm-typed', '3');
        await screenshot(page, 'devices-bulk-typed');
        const sent = page.waitForRequest((r) => r.url().endsWith('/KORVA/v2/devices/bulk'));
        await confirm.click();
        assert.deepEqual(JSON.parse((await sent).postData()), { filter: {}, set: { isAutoUpdate: true } });
        await waitFor(async () => (await device('SNUI0001')).isAutoUpdate, { what: 'the forced flag' });
        assert.deepEqual(page.consoleErrors, []);
    });
});
