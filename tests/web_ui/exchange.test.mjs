// Device-list exchange in the browser: the export downloads the GBK CSV file or a workbook; an
// edited file is previewed by the service row by row and column by column, a row exported
// before its terminal's upgrade is flagged and its versions kept, and the import then marks the
// terminal for a forced upgrade in the device list; "stop all forced upgrades" clears the mark.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, encodeGbk, englishLeaks, launchBrowser, newPage, openPage, screenshot, skipReason } from './harness.mjs';

const TITLES = ['设备ID', '设备序列号', '设备型号', '车牌号', '手机号', 'APP版本', 'MCU版本', '4G模块版本', 'GNSS版本',
    '智能模块版本', '是否自动升级', '配置指令', '上传日志', '上传录像索引', '上传打印文件', '上传行车信息文件', '升级完成时间'];
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
const forcedMark = () => page.locator(`#device-canvas [data-key="${SN}"] .tag-force`);
const stored = async (sn) => (await (await fetch(`${service.base}/KORVA/v2/devices/${sn}`)).json()).device;

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

    test('export downloads the device list as a GBK CSV file or a workbook', async () => {
        await openPage(page, '#/exchange');
        const [download] = await Promise.all([page.waitForEvent('download'), page.click('#export-button')]);
        assert.match(download.suggestedFilename(), /\.csv$/);
        exported = new TextDecoder('gbk').decode(fs.readFileSync(await download.path()));
        const rows = lines(exported).map((l) => l.split(','));
        assert.deepEqual(rows[0].slice(0, 17), TITLES);
        const row = rows.find((r) => r[1] === SN);
        assert.ok(row, `${SN} is not in the export`);
        assert.equal(row[3], '粤C24680');
        assert.equal(row[10], '0', 'a fresh terminal is not flagged for a forced upgrade');
        await page.locator('#export-message.message-success').waitFor();

        await page.selectOption('#export-format', 'xlsx');
        const [workbook] = await Promise.all([page.waitForEvent('download'), page.click('#export-button')]);
        assert.match(workbook.suggestedFilename(), /\.xlsx$/);
        assert.equal(fs.readFileSync(await workbook.path()).subarray(0, 4).toString('latin1'), 'PK\x03\x04');
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
                if (r.url().includes('/devices/import')) sent = true;
            });
            await page.setInputFiles('#import-file', { name: 'bad.csv', mimeType: 'text/csv', buffer: bytes() });
            await page.waitForFunction((source) => new RegExp(source).test(document.querySelector('#import-message.message-error')?.textContent || ''),
                message.source);
            assert.equal(await page.isDisabled('#import-button'), true);
            await page.click('#import-button', { force: true });
            assert.equal(sent, false);
        });
    }

    test('the preview flags a row exported before an upgrade; the import keeps its version and sets the flag', async () => {
        // The file as it was before the terminal's upgrade: an older version and another completion time.
        const edited = lines(exported).map((line) => {
            const cells = line.split(',');
            if (cells[1] === SN) {
                cells[10] = '1';
                cells[5] = 'V0.9';
                cells[16] = '2020-01-01 08:00:00';
            }
            return cells.join(',');
        }).join('\n') + '\n';
        await page.check('#import-versions');
        const preview = page.waitForResponse((r) => r.url().includes('/KORVA/v2/devices/import/preview?versions=true'));
        await page.setInputFiles('#import-file', { name: 'devices-edited.csv', mimeType: 'text/csv', buffer: encodeGbk(edited) });
        assert.equal((await preview).status(), 200);
        await page.waitForFunction(() => document.querySelector('#import-count')?.textContent === '1');
        const row = page.locator(`#import-preview tr[data-key="${SN}"]`);
        assert.match(await row.getAttribute('class'), /row-flagged/);
        assert.match(await row.locator('[data-col="changes"]').textContent(), /是否自动升级：否 → 是/);
        assert.doesNotMatch(await row.locator('[data-col="changes"]').textContent(), /APP版本/);
        assert.match(await row.locator('[data-col="versions"]').textContent(), /APP版本：V1\.0\.0 → V0\.9不写入/);
        assert.match(await row.locator('[data-col="flagged"]').textContent(), /导出后终端已升级/);
        assert.equal(await page.locator('#import-preview tr[data-key="SNUI0101"]').count(), 0, 'unchanged rows are only counted');
        await screenshot(page, 'exchange-import');

        await page.click('#import-button');
        assert.match(await page.textContent('#confirm-dialog .dialog-body'), /更新 1 台/);
        const [response] = await Promise.all([
            page.waitForResponse((r) => r.url().includes('/KORVA/v2/devices/import?versions=true')),
            page.click('#confirm-dialog button[value=confirm]'),
        ]);
        assert.equal(response.status(), 200);
        await page.locator('#import-message.message-success').waitFor();
        assert.equal(await page.getAttribute('#import-bar', 'aria-valuenow'), '100');
        const device = await stored(SN);
        assert.equal(device.isAutoUpdate, true);
        assert.equal(device.AppVersion, 'V1.0.0', 'a stale version must not be written');

        await openPage(page, '#/devices');
        await forcedMark().waitFor();
        assert.equal(await page.locator('#device-canvas [data-key="SNUI0101"] .tag').count(), 0);
        await screenshot(page, 'devices-forced');
        await page.selectOption('#filter-pending', 'forced');
        await page.waitForFunction(() => document.querySelector('#devices-count')?.textContent === '1');
        await page.click('#search-reset');
    });

    test('stopping all forced upgrades clears the mark', async () => {
        await openPage(page, '#/upgrades');
        await page.click('#stop-upload');
        await page.locator('#confirm-dialog[open]').waitFor();
        await page.click('#confirm-dialog button[value=confirm]');
        await page.locator('#upgrades-message.message-success').waitFor();
        await openPage(page, '#/devices');
        await page.locator(`#device-canvas [data-key="${SN}"]`).waitFor();
        await forcedMark().waitFor({ state: 'detached' });
        assert.deepEqual(await englishLeaks(page), []);
        assert.deepEqual(page.consoleErrors, []);
    });
});
