// Campaign controls in the rollout view against the real service: a rollout paused by hand and
// resumed where it stood, each behind its confirmation; a terminal whose install did not take
// held at the retry limit, listed among the failed terminals and released from there.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { Service, Terminal, englishLeaks, launchBrowser, newPage, openPage, skipReason, uploadPackage, waitFor } from './harness.mjs';

const service = await Service.start({ extra: 'RolloutCheckSeconds=3600\nUpgradeRetryLimit=1\n' });
const skip = await skipReason(service, { needsTerminal: true });
const terminals = [];
let browser;
let page;
let pkg;

after(async () => {
    terminals.forEach((t) => t.close());
    if (browser) await browser.close();
    await service.stop();
});

const api = async (method, path, data) => {
    const response = await fetch(`${service.base}${path}`, { method, body: data && JSON.stringify(data) });
    return { status: response.status, body: await response.json() };
};
const decision = async (sn) => (await api('GET', `/KORVA/v2/devices/${sn}`)).body.decision?.reason;

async function confirm(title) {
    await page.locator('#confirm-dialog[open]').waitFor();
    assert.match(await page.textContent('#confirm-title'), title);
    await page.click('#confirm-dialog button[value=confirm]');
}

async function reportAs(sn, app) {
    const terminal = await new Terminal({ sn, type: 'TCA', app }).connect(service.tcpPort);
    terminals.push(terminal);
    await terminal.register(service.base);
    return terminal;
}

describe('campaign controls in the rollout view', { skip: skip || false }, () => {
    before(async () => {
        pkg = await uploadPackage(service.base, { type: 'TCA', app: 'V2.0' });
        const set = await api('PUT', `/KORVA/v2/packages/${pkg.id}/plan`, { stages: [{ percent: 100 }], pauseAtFailures: 100 });
        assert.equal(set.status, 200);
        // Offered, downloads to 100, comes back on the old version: held at a limit of 1.
        const first = await reportAs('SNCA0001', 'V1.0');
        first.progress(100);
        await waitFor(async () => (await api('GET', '/KORVA/v2/upgrades?devSN=SNCA0001')).body.items[0]?.lastProgress === 100, { what: 'SNCA0001 at 100' });
        await reportAs('SNCA0001', 'V1.0');
        await waitFor(async () => (await decision('SNCA0001')) === 'retry_limit', { what: 'SNCA0001 held' });
        browser = await launchBrowser();
        page = await newPage(browser, service);
        await openPage(page, `#/rollout/${pkg.id}`);
        await page.locator('#plan-state[data-state="completed"]').waitFor();
    });

    test('a pause by hand holds new offers until resumed where it stood', async () => {
        await page.click('#plan-pause');
        await confirm(/暂停发布/);
        await page.locator('#plan-state[data-state="paused"]').waitFor();
        assert.match(await page.textContent('#plan-pause-reason'), /手动暂停/);
        await reportAs('SNCA0002', 'V1.0');
        assert.equal(await decision('SNCA0002'), 'rollout_paused');
        await page.click('#plan-resume');
        await confirm(/恢复发布/);
        await page.locator('#plan-state[data-state="completed"]').waitFor();
        const plan = (await api('GET', `/KORVA/v2/packages/${pkg.id}/plan`)).body;
        assert.deepEqual([plan.state, plan.openStages], ['running', 1]);
    });

    test('a held terminal is listed among the failed ones and released after its confirmation', async () => {
        const row = page.locator('#failed-table tr[data-sn="SNCA0001"]');
        await row.waitFor();
        assert.match(await row.textContent(), /安装未生效.*已扣留/);
        await page.click('#failed-table [data-release="SNCA0001"]');
        await confirm(/放行终端 SNCA0001/);
        await page.waitForFunction(() => /已放行 1 台终端/.test(document.querySelector('#failed-message')?.textContent || ''));
        assert.equal(await page.locator('#failed-release-all').count(), 0);
        assert.equal((await api('GET', `/KORVA/v2/packages/${pkg.id}/failed`)).body.held, 0);
        await reportAs('SNCA0001', 'V1.0');
        assert.equal(await decision('SNCA0001'), 'newer_component');
        assert.deepEqual(await englishLeaks(page), []);
        assert.deepEqual(page.consoleErrors, []);
    });
});
