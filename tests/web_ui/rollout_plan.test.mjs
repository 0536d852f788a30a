// Staged rollouts in the pages against the real service with logins on: a plan checked in the
// page and set at upload, stage progress moving as terminals upgrade, a failed install pausing
// the rollout, resume / advance / cancel through their confirmations, the plan replaced after
// the service refused a first try, every decision reason counted and shown in the drawer, an
// impostor's refused report shown apart from its victim's decision, and a viewer who sees it all
// without an action (the impostor's device ID masked).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { Command, Service, Terminal, englishLeaks, launchBrowser, loggedInContext, newPage, openPage, screenshot, waitFor } from './harness.mjs';

const service = await Service.start({ login: true, extra: 'RolloutCheckSeconds=0.2\n' });
// With logins on the API answers 401 without one, so only the ports are asked (as in the login test).
const skip = service.startProblem || (!(await service.tcpOpen()) && 'the device TCP port is not open');
const SERIALS = ['SNRP0001', 'SNRP0002', 'SNRP0003', 'SNRP0004', 'SNRP0005', 'SNRP0006', 'SNRP0007'];
let browser;
let admin;
let page;
let pkg;
const terminals = {};

after(async () => {
    Object.values(terminals).forEach((t) => t.close());
    if (browser) await browser.close();
    await service.stop();
});

const getJson = async (url) => (await admin.request.get(url)).json();
const device = (sn) => getJson(`/KORVA/v2/devices/${sn}`);
const plan = () => getJson(`/KORVA/v2/packages/${pkg.id}/plan`);
const decided = (sn, reason) => waitFor(async () => (await device(sn)).decision?.reason === reason, { what: `${sn} decided ${reason}` });
const text = (selector) => page.locator(selector).textContent();
const waitText = (selector, pattern) => page.waitForFunction(([s, p]) => new RegExp(p).test(document.querySelector(s)?.textContent || ''), [selector, pattern.source]);
const stageCell = (stage, col) => `#plan-stages tr[data-stage="${stage}"] [data-col="${col}"]`;

async function connect(sn, info = {}) {
    terminals[sn]?.close();
    terminals[sn] = await new Terminal({ sn, type: 'TRP', app: 'V1.0', ...info }).connect(service.tcpPort);
    return terminals[sn];
}

// Downloads to 100, then comes back on a new connection reporting `app`.
async function upgradeAndReturn(sn, app) {
    terminals[sn].progress(100);
    await waitFor(async () => (await getJson(`/KORVA/v2/upgrades?devSN=${sn}`)).items[0]?.lastProgress === 100, { what: `${sn} at 100` });
    await (await connect(sn, { app })).report();
}

async function confirm(title, body) {
    await page.locator('#confirm-dialog[open]').waitFor();
    assert.match(await text('#confirm-title'), title);
    assert.match(await text('#confirm-dialog .dialog-body'), body);
    await page.click('#confirm-dialog button[value=confirm]');
}

const localTime = (seconds) => {
    const d = new Date(seconds * 1000);
    const p = (n) => String(n).padStart(2, '0');
    return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())} ${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}`;
};

describe('staged rollouts in the pages', { skip: skip || false }, () => {
    before(async () => {
        browser = await launchBrowser();
        const first = fs.readFileSync(service.path('initial-admin-password'), 'utf8').trim();
        admin = await loggedInContext(browser, service, 'admin', first, 'rollout-admin-1');
        const created = await admin.request.post('/KORVA/v2/accounts', {
            headers: { 'X-CSRF-Token': admin.csrf }, data: { name: 'viewer-rp', role: 'viewer', password: 'viewer-first-1' },
        });
        assert.equal(created.status(), 201);
        // Known before the package: a filter stage takes only terminals the service knows.
        for (const sn of SERIALS) (await connect(sn)).send(Command.Report, terminals[sn].reportBody());
        for (const sn of SERIALS) await waitFor(async () => (await admin.request.get(`/KORVA/v2/devices/${sn}`)).ok(), { what: `${sn} known` });
        page = await newPage(browser, service, admin);
    });

    test('the upload form checks the plan in the page and sets it after the last block', async () => {
        const uploads = [];
        page.on('request', (r) => { if (r.url().includes('/KORVA/uploadFile')) uploads.push(r.url()); });
        await openPage(page, '#/packages');
        await page.setInputFiles('#upload-file', { name: 'trp.bin', mimeType: 'application/octet-stream', buffer: Buffer.from('staged package\n'.repeat(50)) });
        await page.fill('#upload-type', 'TRP');
        await page.fill('#upload-app', 'V2.0');
        await page.check('#upload-plan-on');
        const stage = (n, name) => page.locator(`#upload-plan-editor [data-stage="${n}"] [name=${name}]`);
        const refused = async (pattern) => {
            await page.click('#upload-start');
            await waitText('#upload-message.message-error', pattern);
        };

        await page.fill('#upload-plan-editor-failures', '');
        await refused(/请给出暂停条件/);
        await page.fill('#upload-plan-editor-failures', '1');
        await stage(1, 'kind').selectOption('filter');
        await stage(1, 'q').fill('NOSUCH');
        await refused(/第 1 阶段的筛选条件没有选中型号 “TRP” 的任何终端/);
        await stage(1, 'kind').selectOption('serials');
        await stage(1, 'serials').fill('SNRP0001, SNRP0002');
        await page.click('#upload-plan-editor-add');
        await stage(3, 'percent').fill('50');
        await refused(/第 3 阶段：累计 100% 的阶段之后不能再有阶段/);
        assert.equal(await stage(3, 'kind').evaluate((n) => n === document.activeElement), true, 'the refused stage has the focus');
        await page.click('#upload-plan-editor [aria-label="第 3 阶段上移"]');
        assert.equal(await stage(2, 'percent').inputValue(), '50');
        await page.click('#upload-plan-editor [aria-label="删除第 2 阶段"]');
        assert.deepEqual(uploads, [], 'nothing is uploaded while the plan is refused');

        const [put] = await Promise.all([
            page.waitForResponse((r) => r.request().method() === 'PUT' && r.url().endsWith('/plan')),
            page.click('#upload-start'),
        ]);
        assert.equal(put.status(), 200);
        assert.deepEqual(JSON.parse(put.request().postData()), {
            stages: [{ serials: ['SNRP0001', 'SNRP0002'], minMinutes: 60, successPercent: 95 }, { percent: 100 }], pauseAtFailures: 1,
        });
        await waitText('#upload-message.message-success', /发布计划已设置：第 1 阶段已开放/);
        await page.click('#upload-rollout-link');
        await page.waitForSelector('#plan-stages');
        pkg = { id: Number(page.url().split('/').pop()) };
        assert.equal((await plan()).stages[0].members, 2);
    });

    test('stage progress and decision counts move as terminals report and upgrade', async () => {
        assert.equal(await text(stageCell(2, 'members')), '5');
        for (const sn of SERIALS) await terminals[sn].report();
        await waitText(stageCell(1, 'inProgress'), /^2$/);
        assert.equal(await text(stageCell(1, 'attempted')), '2');
        assert.equal(await text(stageCell(2, 'waiting')), '5');
        await waitText('#rollout-reasons [data-reason="not_in_open_stage"] .stat-value', /^5$/);
        assert.equal(await text('#rollout-reasons [data-reason="newer_component"] .stat-value'), '2');

        await upgradeAndReturn('SNRP0001', 'V2.0');
        await waitText(stageCell(1, 'succeeded'), /^1$/);
        assert.match(await text(stageCell(1, 'share')), /50% \/ 需 95%/);
        assert.match(await text(stageCell(1, 'opened')), /最短时间还剩/);
        assert.match(await text('#plan-thresholds'), /失败达到 1 台/);
    });

    test('a failed install pauses the rollout: the banner says why and since when; resume after its confirmation', async () => {
        await upgradeAndReturn('SNRP0002', 'V1.0');
        await page.locator('#plan-banner[data-state="paused"]').waitFor();
        const paused = await plan();
        assert.equal(await text('#plan-pause-reason'), paused.pause.reason);
        assert.match(paused.pause.reason, /第1阶段失败1台/);
        assert.match(await text('#plan-pause-time'), new RegExp(`暂停于 ${localTime(paused.pause.at)}`));
        assert.equal(await text(stageCell(1, 'failed')), '1');
        await terminals.SNRP0003.report();
        await decided('SNRP0003', 'rollout_paused');
        await screenshot(page, 'rollout-plan-paused');

        await page.click('#plan-resume');
        await confirm(/恢复发布/, /第 1 阶段至今的 1 台失败将被接受/);
        await page.locator('#plan-state[data-state="running"]').waitFor();
        assert.equal(await page.locator('#plan-banner').count(), 0);
        assert.match(await text('#plan-thresholds'), /已接受的 1 台失败不计/);
        assert.equal((await plan()).state, 'running');
    });

    test('advance and cancel say what follows, and a dismissed confirmation changes nothing', async () => {
        await page.click('#plan-advance');
        await confirm(/立即开放第 2 阶段/, /第 2 阶段的 5 台终端.*下次上报时将获得升级包/);
        await page.locator('#plan-banner[data-state="completed"]').waitFor();
        assert.match(await text('#plan-stages tr[data-stage="2"]'), /当前/);

        await page.click('#plan-cancel');
        await page.locator('#confirm-dialog[open]').waitFor();
        await page.click('#confirm-dialog button[value=cancel]');
        assert.equal((await plan()).state, 'running');
        await page.click('#plan-cancel');
        await confirm(/取消发布/, /不再向新的终端提供升级包.*强制升级的终端仍会升级/);
        await page.locator('#plan-banner[data-state="cancelled"]').waitFor();
        assert.equal(await page.locator('#plan-advance, #plan-cancel, #plan-resume').count(), 0);
        await terminals.SNRP0004.report();
        await decided('SNRP0004', 'rollout_cancelled');
    });

    test('a replaced plan shows the service\'s refusal, then restarts from stage 1 after its confirmation', async () => {
        await page.click('#plan-replace');
        await page.locator('#plan-dialog[open]').waitFor();
        const stage = (name) => page.locator(`#plan-edit [data-stage="1"] [name=${name}]`);
        assert.equal(await stage('kind').inputValue(), 'serials');
        assert.match(await stage('serials').getAttribute('placeholder'), /原计划列出 2 台/);
        await stage('kind').selectOption('filter');
        await stage('q').fill('NOSUCH');
        await page.click('#plan-dialog-save');
        // The service's preview refuses it before any confirmation is asked for.
        await waitText('#plan-dialog-message.message-error', /服务未接受此计划.*第1阶段：filter 未选中该类型的任何设备/);
        assert.equal(await page.isVisible('#confirm-dialog[open]'), false);
        assert.equal((await plan()).state, 'cancelled');

        await stage('q').fill('SNRP0005');
        await page.click('#plan-dialog-save');
        await page.locator('#confirm-dialog[open]').waitFor();
        assert.match(await text('#plan-preview'), /第 1 阶段：1 台（在线 \d、离线 \d），待升级 \d 台/);
        await confirm(/替换发布计划/, /从第 1 阶段重新开始/);
        await page.locator('#plan-dialog[open]').waitFor({ state: 'detached' });
        await page.locator('#plan-state[data-state="running"]').waitFor();
        assert.match(await text(stageCell(1, 'scope')), /筛选出的 1 台：包含“SNRP0005”/);
        const replaced = await plan();
        assert.deepEqual([replaced.openStages, replaced.stages[0].kind, replaced.stages[0].members], [1, 'filter', 1]);
    });

    test('the drawer shows each terminal\'s last decision; the counts name every reason', async () => {
        // Still to drive: a forced upgrade, an impostor, a type without a package, a lost file.
        await admin.request.patch('/KORVA/v2/devices/SNRP0007', { headers: { 'X-CSRF-Token': admin.csrf }, data: { isAutoUpdate: true } });
        await terminals.SNRP0007.report();
        await (await connect('SNRP0006', { devId: 'ID-OTHER' })).send(Command.Report, terminals.SNRP0006.reportBody());
        await (await connect('SNRP0008', { type: 'TNONE' })).send(Command.Report, terminals.SNRP0008.reportBody());
        const stored = (await getJson('/KORVA/v2/packages')).items.find((p) => p.id === pkg.id);
        fs.rmSync(service.path('Package', 'TRP', stored.packageName));
        await (await connect('SNRP0009')).send(Command.Report, terminals.SNRP0009.reportBody());

        const cases = [
            ['SNRP0007', 'forced', '强制升级', true, /^—$/],
            ['SNRP0002', 'newer_component', '有更新的组件', true, /^升级包APP版本:V2.0 大于 终端APP版本:V1.0$/],
            ['SNRP0008', 'no_package', '没有升级包', false, /^—$/],
            ['SNRP0009', 'package_file_missing', '升级包文件缺失', false, /^—$/],
            ['SNRP0001', 'not_newer', '版本不低于升级包', false, /^升级包APP版本:V2.0 等于 终端APP版本:V2.0$/],
            ['SNRP0005', 'not_in_open_stage', '所在阶段未开放', false, /^属于第2阶段，已开放1个阶段$/],
            ['SNRP0003', 'rollout_paused', '发布已暂停', false, /^第1阶段失败1台/],
            ['SNRP0004', 'rollout_cancelled', '发布已取消', false, /^发布已取消$/],
            // The impostor leaves its victim's decision as its own report left it.
            ['SNRP0006', 'not_in_open_stage', '所在阶段未开放', false, /^属于第2阶段，已开放1个阶段$/],
        ];
        await waitFor(async () => (await device('SNRP0006')).identityConflict?.devId === 'ID-OTHER', { what: 'the impostor recorded' });
        await openPage(page, '#/devices');
        for (const [sn, reason, label, offered, detail] of cases) {
            await decided(sn, reason);
            const known = await device(sn);
            const conflict = known.identityConflict;
            const conflictText = conflict && `上报的设备ID “ID-OTHER” 与已绑定的不同（来自 ${conflict.address}，${localTime(conflict.at)}）`;
            await page.fill('#device-search', sn);
            await page.click(`#device-canvas [data-key="${sn}"] [data-col="devSN"]`);
            await page.locator('#drawer-decision-reason').waitFor();
            assert.equal(await text('#drawer-title'), sn);
            assert.equal(await text('#drawer-decision-reason'), label, sn);
            assert.equal(await text('#drawer-decision-offered'), offered ? '已提供升级包' : '未提供升级包', sn);
            assert.match(await page.locator('#drawer-body [data-section="decision"] dd').nth(2).textContent(), detail, sn);
            const packageText = { no_package: '型号 TNONE 没有升级包' }[reason] || stored.packageName;
            assert.equal(await text('#drawer-decision-package'), packageText, sn);
            assert.equal(await page.locator('#drawer-identity-conflict').count() ? await text('#drawer-identity-conflict') : null, conflictText, sn);
            assert.equal(!!conflict, sn === 'SNRP0006', sn);
            assert.match(await text('#drawer-body [data-section="decision"]'), new RegExp(localTime(known.decision.decidedAt)), sn);
            if (sn === 'SNRP0006') await screenshot(page, 'drawer-decision');
            await page.keyboard.press('Escape');
            await page.locator('#device-drawer[open]').waitFor({ state: 'detached' });
        }

        await openPage(page, `#/rollout/${pkg.id}`);
        await waitText('#rollout-reasons [data-reason="package_file_missing"] .stat-value', /^1$/);
        const { reasons } = await getJson(`/KORVA/v2/packages/${pkg.id}/rollout`);
        const shown = await page.$$eval('#rollout-reasons [data-reason]', (cards) => cards.map((c) => [c.dataset.reason, c.querySelector('.stat-label').textContent, Number(c.querySelector('.stat-value').textContent)]));
        // Only older rows carry identity_conflict: its card shows when some do.
        assert.equal(reasons.identity_conflict, 0);
        assert.deepEqual(shown.map(([code]) => code).sort(), Object.keys(reasons).filter((code) => code !== 'identity_conflict').sort());
        assert.equal(Object.keys(reasons).length, 13);
        for (const [code, label, count] of shown) {
            assert.match(label, /^[\u4e00-\u9fa5]+(ID[\u4e00-\u9fa5]+)?$/, `${code} has a Chinese label`);
            assert.equal(count, reasons[code], code);
        }
        assert.equal(new Set(shown.map(([, label]) => label)).size, 12);
        assert.deepEqual(await englishLeaks(page), []);
        assert.deepEqual(page.consoleErrors, []);
    });

    test('a viewer sees the plan, the counts and the decisions, and no action', async () => {
        const viewer = await newPage(browser, service, await loggedInContext(browser, service, 'viewer-rp', 'viewer-first-1', 'viewer-rp-secret'));
        await openPage(viewer, `#/rollout/${pkg.id}`);
        await viewer.locator('#plan-stages tr[data-stage="1"]').waitFor();
        await viewer.locator('#rollout-reasons [data-reason="forced"]').waitFor();
        assert.equal(await viewer.locator('#plan-resume, #plan-advance, #plan-cancel, #plan-replace').count(), 0);
        await openPage(viewer, '#/devices');
        await viewer.fill('#device-search', 'SNRP0006');
        // The row clicked is the searched list's, not one of the list drawn before the answer.
        await viewer.waitForFunction(() => document.querySelector('#devices-count')?.textContent === '1');
        await viewer.click('#device-canvas [data-key="SNRP0006"] [data-col="devSN"]');
        assert.match(await viewer.locator('#drawer-identity-conflict').textContent(), /^上报的设备ID “\*{4}THER” 与已绑定的不同/);
        await openPage(viewer, '#/packages');
        assert.equal(await viewer.isVisible('#upload-plan-on'), false);
        assert.deepEqual(viewer.consoleErrors, []);
    });
});
