// Device-list exchange in the browser: the export downloads the GBK CSV file, an edited file is
// checked and imported, and the device list then marks the terminal for a forced upgrade; the
// "stop all forced upgrades" action clears the mark again.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, encodeGbk, launchBrowser, newPage, openPage, screenshot, skipReason } from './harness.mjs';

const TITLES = ['设备ID', '设备序列号', '设备型号', '车牌号', '手机号', 'APP版本', 'MCU版本', '4G模块版本', 'GNSS版本',
    '智能模块版本', '是否自动升级', '配置指令', '上传日志', '上传录像索引', '上传打印文件', '上传行车信息文件'];
const SN = 'SNUI0100';

const service = await Service.start();
const skip = await skipReason(service, { needsTerminal: true });
let browser;
let page;
let terminal;
let bystander;
let exported;

after(async () => {
    if (terminal) terminal.close();
    if (bystander) bystander.close();
    if (browser) await browser.close();
    await service.stop();
});

const lines = (text) => text.split('\n').filter((l) => l !== '');
const forcedMark = () => page.locator(`#devices-table tr[data-key="${SN}"] .tag-force`);

describe('device list exchange', { skip: skip || false }, () => {
    before(async () => {
        terminal = await new Terminal({ sn: SN, type: 'T300', plate: '粤C24680', phone: '13700000003' }).connect(service.tcpPort);
        await terminal.register(service.base);
        // A second terminal that the edit leaves alone.
        bystander = await new Terminal({ sn: 'SNUI0101', type: 'T300', phone: '13700000004' }).connect(service.tcpPort);
        await bystander.register(service.base);
        browser = await launchBrowser();
        page = await newPage(browser, service);
    });

    test('export downloads the device list as a GBK CSV file', async () => {
        await openPage(page, '#/exchange');
        const [download] = await Promise.all([page.waitForEvent('download'), page.click('#export-button')]);
        assert.match(download.suggestedFilename(), /\.csv$/);
        const bytes = fs.readFileSync(await download.path());
        exported = new TextDecoder('gbk').decode(bytes);
        const rows = lines(exported).map((l) => l.split(','));
        assert.deepEqual(rows[0].slice(0, 16), TITLES);
        const row = rows.find((r) => r[1] === SN);
        assert.ok(row, `${SN} is not in the export`);
        assert.equal(row[3], '粤C24680');
        assert.equal(row[10], '0', 'a fresh terminal is not flagged for a forced upgrade');
        await page.locator('#export-message.message-success').waitFor();
        await screenshot(page, 'exchange');
    });

    const refused = [
        ['a wrong title', () => encodeGbk(exported.replace('设备ID', '设备id')), /“设备ID”/],
        ['UTF-8 without a byte-order mark', () => Buffer.from(exported, 'utf8'), /BOM/],
    ];
    for (const [name, bytes, message] of refused) {
        test(`a file with ${name} is refused before it is sent`, async () => {
            let sent = false;
            page.on('request', (r) => {
                if (r.url().includes('/KORVA/uploadExcel')) sent = true;
            });
            await page.setInputFiles('#import-file', { name: 'bad.csv', mimeType: 'text/csv', buffer: bytes() });
            // The previous case's refusal may still be shown: wait for this file's own message.
            await page.waitForFunction((source) => new RegExp(source).test(document.querySelector('#import-summary .error-text')?.textContent || ''),
                message.source);
            assert.equal(await page.isDisabled('#import-button'), true);
            await page.click('#import-button', { force: true });
            assert.equal(sent, false);
        });
    }

    test('importing an edited file flags the terminal for a forced upgrade', async () => {
        const edited = lines(exported).map((line) => {
            const cells = line.split(',');
            if (cells[1] === SN) cells[10] = '1';
            return cells.join(',');
        }).join('\n') + '\n';
        await page.setInputFiles('#import-file', { name: 'devices-edited.csv', mimeType: 'text/csv', buffer: encodeGbk(edited) });
        await page.waitForFunction(() => document.querySelector('#import-count')?.textContent === '2');
        assert.equal(await page.textContent(`#import-preview tr[data-key="${SN}"] td[data-col="autoUpdate"]`), '是');
        await screenshot(page, 'exchange-import');
        const [response] = await Promise.all([
            page.waitForResponse((r) => r.url().includes('/KORVA/uploadExcel?name=devices-edited.csv')),
            page.click('#import-button'),
        ]);
        assert.equal(response.status(), 200);
        await page.locator('#import-message.message-success').waitFor();

        await openPage(page, '#/devices');
        await forcedMark().waitFor();
        assert.match(await page.getAttribute(`#devices-table tr[data-key="${SN}"]`, 'class'), /row-force/);
        assert.equal(await page.locator('#devices-table tr[data-key="SNUI0101"] .tag').count(), 0);
        await screenshot(page, 'devices-forced');

        const shown = () => page.$$eval('#devices-table tbody tr[data-key]', (rows) => rows.map((r) => r.dataset.key).sort());
        for (const [filter, expected] of [['forced', [SN]], ['pending', [SN]], ['upgrading', []], ['all', [SN, 'SNUI0101']]]) {
            await page.selectOption('#devices-filter', filter);
            assert.deepEqual(await shown(), expected, `filter ${filter}`);
        }
    });

    test('stopping all forced upgrades clears the mark', async () => {
        await openPage(page, '#/upgrades');
        await page.click('#stop-upload');
        await page.locator('#confirm-dialog[open]').waitFor();
        await page.click('#confirm-dialog button[value=confirm]');
        await page.locator('#upgrades-message.message-success').waitFor();
        await openPage(page, '#/devices');
        await page.locator(`#devices-table tr[data-key="${SN}"]`).waitFor();
        await forcedMark().waitFor({ state: 'detached' });
        assert.doesNotMatch(await page.getAttribute(`#devices-table tr[data-key="${SN}"]`, 'class') || '', /row-force/);
        assert.deepEqual(page.consoleErrors, []);
    });
});
