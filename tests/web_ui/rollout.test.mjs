// Rollout view against the real service in manual mode: a package's terminals counted by state,
// the list of each state on a click, a download's progress followed live up to "done", and the
// package file downloaded from the view.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, englishLeaks, launchBrowser, newPage, openPage, screenshot, skipReason, uploadPackage } from './harness.mjs';

const service = await Service.start({ extra: 'ManualMode=1\n' });
const skip = await skipReason(service, { needsTerminal: true });
const BYTES = Buffer.from('rollout package bytes\n'.repeat(100));
let browser;
let page;
let pkg;
const terminals = {};

after(async () => {
    Object.values(terminals).forEach((t) => t.close());
    if (browser) await browser.close();
    await service.stop();
});

const count = (state) => page.locator(`#rollout-counts [data-state="${state}"] .stat-value`);
const waitCount = (state, n) => page.waitForFunction(([s, v]) =>
    document.querySelector(`#rollout-counts [data-state="${s}"] .stat-value`)?.textContent === String(v), [state, n]);

describe('rollout view', { skip: skip || false }, () => {
    before(async () => {
        pkg = await uploadPackage(service.base, { type: 'TRO', app: 'V9.0', bytes: BYTES });
        const versions = { SNRO0001: 'V1.0', SNRO0002: 'V9.0', SNRO0003: 'V1.0', SNRO0004: 'V1.0' };
        for (const [sn, app] of Object.entries(versions)) {
            terminals[sn] = await new Terminal({ sn, type: 'TRO', app }).connect(service.tcpPort);
            await terminals[sn].register(service.base);
        }
        terminals.SNRO0004.close();
        // Manual mode upgrades only a terminal flagged for it.
        const flagged = await fetch(`${service.base}/KORVA/v2/devices/SNRO0001`, { method: 'PATCH', body: '{"isAutoUpdate":true}' });
        assert.equal(flagged.status, 200);
        await terminals.SNRO0001.report();
        terminals.SNRO0001.progress(40);
        browser = await launchBrowser();
        page = await newPage(browser, service);
    });

    test('the package list leads to the counts by state', async () => {
        await openPage(page, '#/packages');
        await page.click(`#packages-table tr[data-key="${pkg.id}"] [data-action="rollout"]`);
        await page.waitForSelector('#page-rollout:not([hidden])');
        await waitCount('downloading', 1);
        const counts = {};
        for (const state of ['wouldUpgrade', 'downloading', 'stalled', 'installing', 'done', 'onVersion', 'held', 'offline']) {
            counts[state] = Number(await count(state).textContent());
        }
        assert.deepEqual(counts, { wouldUpgrade: 0, downloading: 1, stalled: 0, installing: 0, done: 0, onVersion: 1, held: 1, offline: 1 });
        assert.equal(await page.textContent('#rollout-total'), '4');
        assert.match(await page.textContent('#rollout-sections'), /手动模式/);
    });

    test('a state\'s card lists its terminals', async () => {
        for (const [state, sn] of [['held', 'SNRO0003'], ['offline', 'SNRO0004'], ['onVersion', 'SNRO0002']]) {
            await page.click(`#rollout-counts [data-state="${state}"]`);
            await page.locator(`#rollout-drill-table tr[data-key="${sn}"]`).waitFor();
            assert.equal(await page.locator('#rollout-drill-table tbody tr[data-key]').count(), 1, state);
        }
        // Enter on a listed terminal opens its drawer.
        await page.focus('#rollout-drill-table tr[data-key="SNRO0002"]');
        await page.keyboard.press('Enter');
        await page.locator('#device-drawer[open]').waitFor();
        assert.equal(await page.textContent('#drawer-title'), 'SNRO0002');
        await page.keyboard.press('Escape');
        await page.locator('#device-drawer[open]').waitFor({ state: 'detached' });
    });

    test('a download is followed live until the terminal reports the new version', async () => {
        const bar = page.locator('#rollout-live li[data-sn="SNRO0001"] [role=progressbar]');
        await page.waitForFunction(() => document.querySelector('#rollout-live li[data-sn="SNRO0001"] [role=progressbar]')?.getAttribute('aria-valuenow') === '40');
        terminals.SNRO0001.progress(80);
        await page.waitForFunction(() => document.querySelector('#rollout-live li[data-sn="SNRO0001"] [role=progressbar]')?.getAttribute('aria-valuenow') === '80');
        assert.equal(await bar.count(), 1);
        await page.click('#rollout-counts [data-state="downloading"]');
        await page.locator('#rollout-drill-table tr[data-key="SNRO0001"]').waitFor();
        await screenshot(page, 'rollout');
        terminals.SNRO0001.progress(100);
        await waitCount('installing', 1);
        assert.equal(await count('downloading').textContent(), '0');
        await page.locator('#rollout-live-empty').waitFor();
        terminals.SNRO0001.info.app = 'V9.0';
        await terminals.SNRO0001.report();
        await waitCount('done', 1);
        assert.equal(await count('installing').textContent(), '0');
    });

    test('the package downloads from the view', async () => {
        const [download] = await Promise.all([page.waitForEvent('download'), page.click('#rollout-download')]);
        assert.equal(download.suggestedFilename(), pkg.name);
        assert.ok(fs.readFileSync(await download.path()).equals(BYTES));
        assert.deepEqual(await englishLeaks(page), []);
        assert.deepEqual(page.consoleErrors, []);
    });
});
