// The dashboard and the device timeline against the real service: the charts are drawn by the
// library the service ships, with no request leaving it; the drawer shows a terminal's events,
// among them the command it was sent and its answer.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { Command, Service, Terminal, launchBrowser, newPage, openPage, screenshot, skipReason, uploadPackage, waitFor } from './harness.mjs';

const SN = 'SNDB0001';
const service = await Service.start({ extra: 'DashboardSampleSeconds=1\n' });
const skip = await skipReason(service, { needsTerminal: true });
let browser;
let page;
let terminal;
const requests = [];

after(async () => {
    if (terminal) terminal.close();
    if (browser) await browser.close();
    await service.stop();
});

describe('dashboard and timeline', { skip: skip || false }, () => {
    before(async () => {
        await uploadPackage(service.base, { type: 'TDB', app: 'V1.0' });
        terminal = await new Terminal({ sn: SN, type: 'TDB', app: 'V1.0' }).connect(service.tcpPort);
        await terminal.register(service.base);
        browser = await launchBrowser();
        page = await newPage(browser, service);
        page.on('request', (request) => requests.push(request.url()));
    });

    test('draws its charts with the library served by the service', async () => {
        // A history sample with the terminal online, so the online chart has a point to draw.
        await waitFor(async () => (await (await fetch(`${service.base}/KORVA/v2/dashboard`)).json()).online.some((p) => p.online === 1),
            { what: 'a sample with the terminal online' });
        await openPage(page, '#/dashboard');
        await page.waitForSelector('#page-dashboard[data-drawn]');
        assert.equal(await page.textContent('#dashboard-online'), '1');
        const drawn = await page.evaluate(() => [...document.querySelectorAll('#dashboard-charts canvas')]
            .map((canvas) => ({ id: canvas.id, chart: !!window.Chart.getChart(canvas), width: canvas.width })));
        const ids = drawn.map((c) => c.id);
        for (const id of ['dashboard-online-chart', 'dashboard-upgrades-chart', 'dashboard-versions-AppVersion']) assert.ok(ids.includes(id), id);
        assert.ok(drawn.every((c) => c.chart && c.width > 0), JSON.stringify(drawn));
        const online = await page.evaluate(() => window.Chart.getChart('dashboard-online-chart').data.datasets[0].data);
        assert.ok(online.includes(1), JSON.stringify(online));
        assert.ok(requests.includes(`${service.base}/doc/lib/chart.min.js`), requests.join('\n'));
        assert.deepEqual(requests.filter((url) => !url.startsWith(service.base) && !url.startsWith('data:')), []);
        await screenshot(page, 'dashboard');
    });

    test('the drawer shows the timeline with the command sent and its answer', async () => {
        const patched = await fetch(`${service.base}/KORVA/v2/devices/${SN}`, {
            method: 'PATCH', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ ConfigCmd: 'reboot' }),
        });
        assert.equal(patched.status, 200);
        const seen = terminal.packets.length;
        terminal.send(Command.Report, terminal.reportBody());
        await waitFor(() => terminal.packets.slice(seen).some((p) => p.cmd === Command.Command), { what: 'the command' });
        await openPage(page, '#/devices');
        await page.click(`#device-canvas [data-key="${SN}"] [data-col="devSN"]`);
        await page.waitForSelector('#drawer-command-feedback.message-info');
        assert.match(await page.textContent('#drawer-command-feedback'), /reboot.*等待终端回复/);

        const result = Buffer.concat([Buffer.from([0, 0, 0, 0]), Buffer.from('done')]);
        terminal.send(Command.Command, result);
        // The drawer refreshes by itself.
        await page.waitForSelector('#drawer-command-feedback.message-success', { timeout: 15000 });
        assert.match(await page.textContent('#drawer-command-feedback'), /执行成功：done/);
        const kinds = await page.$$eval('#drawer-timeline tr', (rows) => rows.map((r) => r.dataset.kind));
        assert.deepEqual(kinds.filter((k) => k.startsWith('command')).slice(0, 3), ['command_result', 'command_sent', 'command_set']);
        assert.ok(kinds.includes('connected') && kinds.includes('registered'), kinds.join());
        await page.locator('#drawer-timeline').scrollIntoViewIfNeeded();
        await screenshot(page, 'devices-drawer-timeline');
    });
});
