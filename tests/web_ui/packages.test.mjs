// Packages in the browser: a block-wise upload is listed with its name and size only after the
// last block, a failing block is reported and lists nothing, and deletion removes the package.
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { Service, launchBrowser, newPage, openPage, screenshot, skipReason } from './harness.mjs';

const service = await Service.start();
const skip = await skipReason(service);
let browser;
let page;

after(async () => {
    if (browser) await browser.close();
    await service.stop();
});

const BLOCK = 256 * 1024;
// Three blocks, the last one short, with content that shows any reordering or loss.
const content = crypto.randomBytes(2 * BLOCK + 12345);

async function packages() {
    const response = await fetch(`${service.base}/KORVA/packageList`);
    assert.equal(response.status, 200);
    return JSON.parse(await response.text()).data.packageList;
}

async function fillUpload(name, type) {
    await page.setInputFiles('#upload-file', { name, mimeType: 'application/octet-stream', buffer: content });
    await page.fill('#upload-type', type);
    await page.fill('#upload-app', 'V5.3.1 build220711');
    await page.fill('#upload-mcu', 'M2.0');
    await page.fill('#upload-fourg', 'G2.0');
    await page.fill('#upload-gnss', 'N2.0');
    await page.fill('#upload-smart', 'S2.0');
    await page.selectOption('#upload-block', String(BLOCK));
}

describe('packages page', { skip: skip || false }, () => {
    before(async () => {
        browser = await launchBrowser();
        page = await newPage(browser, service);
        await openPage(page, '#/packages');
        await page.waitForSelector('#packages-table tbody');
    });

    test('a block that fails is reported with its status and nothing is listed', async () => {
        await fillUpload('broken.bin', 'TUIFAIL');
        // The second block is answered as the server answers a refused block.
        const secondBlock = /\/KORVA\/uploadFile\?.*blockIndex=1&/;
        await page.route(secondBlock, (route) => route.fulfill({ status: 501, body: '' }));
        await page.click('#upload-start');
        const message = page.locator('#upload-message.message-error');
        await message.waitFor();
        const text = await message.textContent();
        assert.match(text, /第 2 \/ 3 块失败：服务未执行此操作（HTTP 501）/);
        await page.unroute(secondBlock);
        assert.equal((await packages()).filter((p) => p.deviceType === 'TUIFAIL').length, 0);
        assert.equal(await page.locator('#packages-table tbody tr[data-key]').count(), 0);
    });

    test('a 3-block upload is listed with its name and size', async () => {
        await fillUpload('fw-ui.bin', 'TUI1');
        const blocks = [];
        page.on('request', (r) => {
            if (r.url().includes('/KORVA/uploadFile')) blocks.push(new URL(r.url()).searchParams);
        });
        // The browser's clock is a day off: the file name's prefix is still the service's time.
        await page.evaluate(() => {
            const Real = Date;
            globalThis.Date = class extends Real {
                constructor(...args) {
                    super(...(args.length ? args : [Real.now() + 86400000]));
                }
                static now() {
                    return Real.now() + 86400000;
                }
            };
        });
        const status = async () => (await (await fetch(`${service.base}/KORVA/v2/status`)).json()).serverTime;
        const before = (await status()).slice(0, 19).replace(/\D/g, '');
        await page.click('#upload-start');
        await page.locator('#upload-message.message-success').waitFor({ timeout: 30000 });
        const afterwards = (await status()).slice(0, 19).replace(/\D/g, '');
        assert.deepEqual(blocks.map((q) => q.get('blockIndex')), ['0', '1', '2']);
        for (const q of blocks) {
            assert.equal(q.get('blockSize'), '3');
            assert.equal(q.get('totalLength'), String(content.length));
            assert.ok(q.get('uploadTime') >= before && q.get('uploadTime') <= afterwards, `${q.get('uploadTime')} is not the service's time`);
        }
        // The success is said beside the form: no notice lies over the list's columns.
        const table = await page.locator('#packages-table').boundingBox();
        for (const box of await page.locator('#notices .notice').evaluateAll((n) => n.map((e) => e.getBoundingClientRect().toJSON()))) {
            const apart = box.right <= table.x || box.x >= table.x + table.width || box.bottom <= table.y || box.y >= table.y + table.height;
            assert.ok(apart, 'a notice covers the package list');
        }
        const listed = (await packages()).filter((p) => p.deviceType === 'TUI1');
        assert.equal(listed.length, 1);
        const pkg = listed[0];
        assert.equal(pkg.name, `${blocks[0].get('uploadTime')}_fw-ui.bin`);
        assert.equal(pkg.size, content.length);
        assert.equal(pkg.AppVersion, 'V5.3.1 build220711');
        assert.equal(pkg.SmartModule, 'S2.0');

        const row = page.locator(`#packages-table tr[data-key="${pkg.id}"]`);
        await row.waitFor();
        assert.equal(await row.locator('td[data-col="name"]').textContent(), pkg.name);
        assert.equal(await row.locator('td[data-col="size"] span').getAttribute('data-bytes'), String(content.length));
        assert.equal(await row.locator('td[data-col="deviceType"]').textContent(), 'TUI1');
        assert.equal(await page.getAttribute('#upload-bar', 'aria-valuenow'), '100');

        // The blocks were joined in order into the stored file, and it downloads whole.
        const stored = service.path('Package', 'TUI1', pkg.name);
        if (stored) assert.ok(fs.readFileSync(stored).equals(content), `${path.basename(stored)} differs from the uploaded file`);
        const [download] = await Promise.all([page.waitForEvent('download'), row.locator('[data-action="download"]').click()]);
        assert.equal(download.suggestedFilename(), pkg.name);
        assert.ok(fs.readFileSync(await download.path()).equals(content), 'the downloaded package differs from the upload');
        await screenshot(page, 'packages');
    });

    test('deleting asks for confirmation and removes the package', async () => {
        const [pkg] = (await packages()).filter((p) => p.deviceType === 'TUI1');
        const row = page.locator(`#packages-table tr[data-key="${pkg.id}"]`);

        await row.locator('button', { hasText: '删除' }).click();
        await page.locator('#confirm-dialog[open]').waitFor();
        await page.click('#confirm-dialog button[value=cancel]');
        assert.equal((await packages()).filter((p) => p.id === pkg.id).length, 1, 'cancelling must keep the package');

        await row.locator('button', { hasText: '删除' }).click();
        await page.click('#confirm-dialog button[value=confirm]');
        await row.waitFor({ state: 'detached' });
        assert.match(await page.textContent('#packages-message.message-success'), new RegExp(`已删除升级包 ${pkg.name}`));
        assert.equal((await packages()).filter((p) => p.id === pkg.id).length, 0);
        const stored = service.path('Package', 'TUI1', pkg.name);
        if (stored) assert.equal(fs.existsSync(stored), false, 'the package file must be removed');
        assert.deepEqual(page.consoleErrors, []);
    });
});

describe('refused actions', { skip: skip || false }, () => {
    test('show the status and the reason phrase the server sent', async () => {
        // With no device in the table the server refuses to clear forced upgrades.
        await openPage(page, '#/upgrades');
        await page.click('#stop-upload');
        await page.click('#confirm-dialog button[value=confirm]');
        const message = page.locator('#upgrades-message.message-error');
        await message.waitFor();
        assert.match(await message.textContent(), /服务未执行此操作（HTTP 501）（设备表为空时也会如此）/);
        assert.match(await page.locator('#notices .notice-error').first().textContent(), /服务未执行此操作（HTTP 501）/);
        assert.doesNotMatch(await page.textContent('body'), /not implemented/);
        await screenshot(page, 'upgrades-refused');
    });
});
