// Logins in the browser: the first admin password and its forced change, the admin view
// (accounts, tokens, audit trail, role changes and password resets behind a dialog), logout, and
// a viewer who is not shown what it may not do.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { Command, Service, Terminal, launchBrowser, newPage, screenshot, waitFor } from './harness.mjs';

const SN = 'SNLG0001';
const service = await Service.start({ login: true });
let browser;
let page;
let terminal;

after(async () => {
    if (terminal) terminal.close();
    if (browser) await browser.close();
    await service.stop();
});

async function logIn(name, password) {
    await page.locator('#login-view').waitFor();
    await page.fill('#login-name', name);
    await page.fill('#login-password', password);
    await page.click('#login-submit');
}

async function changePassword(current, next) {
    await page.locator('#password-view').waitFor();
    assert.equal(await page.isVisible('#password-cancel'), false);
    await page.fill('#password-current', current);
    await page.fill('#password-new', next);
    await page.fill('#password-repeat', next);
    await page.click('#password-submit');
    await page.waitForSelector('body[data-ready="true"]');
}

describe('logins in the pages', { skip: service.startProblem || false }, () => {
    before(async () => {
        browser = await launchBrowser();
        page = await newPage(browser, service);
    });

    test('the first admin logs in with the handed-over password and must change it', async () => {
        await page.goto('/');
        await logIn('admin', 'wrong password');
        await page.locator('#login-message.message-error').waitFor();
        assert.match(await page.textContent('#login-message'), /账户或密码错误/);
        assert.equal(await page.isVisible('.shell'), false);

        const first = fs.readFileSync(service.path('initial-admin-password'), 'utf8').trim();
        await logIn('admin', first);
        await page.locator('#password-view').waitFor();
        await screenshot(page, 'login-forced-change');
        await changePassword(first, 'ui-admin-secret');
        assert.equal(fs.existsSync(service.path('initial-admin-password')), false);
        assert.equal(await page.textContent('#account-name'), 'admin');
        assert.equal(await page.isVisible('nav a[data-page="admin"]'), true);
        assert.equal(await page.isVisible('#stop-upload'), false); // another page
    });

    test('the admin creates an account, a token and a webhook, and reads them in the audit trail', async () => {
        await page.click('nav a[data-page="admin"]');
        await page.locator('#accounts-table tr[data-key="admin"]').waitFor();
        await page.fill('#account-new-name', 'viewer-ui');
        await page.selectOption('#account-new-role', 'viewer');
        await page.fill('#account-new-password', 'handed-over');
        await page.click('#account-create');
        await page.locator('#accounts-table tr[data-key="viewer-ui"]').waitFor();

        await page.fill('#token-new-name', 'ui-script');
        await page.click('#token-create');
        const secret = await page.locator('#token-secret').textContent();
        assert.match(secret, /^wft_[A-Za-z0-9_-]{43}$/);
        await page.locator('#tokens-table tr[data-key="ui-script"]').waitFor();
        assert.equal((await page.textContent('#tokens-table')).includes(secret), false);
        const byToken = await fetch(`${service.base}/KORVA/packageList`, { headers: { Authorization: `Bearer ${secret}` } });
        assert.equal(byToken.status, 200);

        // A webhook for two events: its signing secret is shown once, never in the list.
        await page.fill('#webhook-new-url', 'http://127.0.0.1:9/ui-hook');
        await page.check('#webhook-new-events input[value="rollout_paused"]');
        await page.check('#webhook-new-events input[value="identity_conflict"]');
        await page.click('#webhook-create');
        const signing = await page.locator('#webhook-secret').textContent();
        assert.match(signing, /^whs_[A-Za-z0-9_-]{43}$/);
        const hook = page.locator('#webhooks-table tbody tr');
        await hook.waitFor();
        assert.equal(await hook.locator('td').nth(1).textContent(), '发布暂停、设备身份冲突');
        assert.equal((await page.textContent('#webhooks-table')).includes(signing), false);

        await page.click('#audit-search');
        await page.waitForFunction(() => !!document.querySelector('#audit-table [data-action="webhook_create"]'));
        const actions = await page.$$eval('#audit-table [data-action]', (cells) => cells.map((c) => c.dataset.action));
        for (const action of ['login_failed', 'login', 'password_change', 'account_create', 'token_create', 'webhook_create']) assert.ok(actions.includes(action), action);
        // Shown in Chinese, the stored name kept as the cell's title.
        const trail = await page.textContent('#audit-table');
        for (const text of ['登录失败', '修改密码', '创建账户', '创建令牌']) assert.match(trail, new RegExp(text));
        assert.doesNotMatch(trail, /token_create|login_failed/);
        await screenshot(page, 'admin-view');
    });

    test('a role change waits for its dialog; a reset hands over a generated password once', async () => {
        const account = async () => {
            const response = await page.context().request.get('/KORVA/v2/accounts');
            return (await response.json()).accounts.find((a) => a.name === 'ops-ui');
        };
        await page.fill('#account-new-name', 'ops-ui');
        await page.selectOption('#account-new-role', 'viewer');
        await page.fill('#account-new-password', 'handed-over');
        await page.click('#account-create');
        const select = page.locator('#accounts-table tr[data-key="ops-ui"] .role-select');
        await select.waitFor();
        for (const answer of ['cancel', 'confirm']) {
            await select.selectOption('operator');
            await page.locator('#confirm-dialog[open]').waitFor();
            assert.match(await page.textContent('#confirm-dialog .dialog-body'), /“ops-ui” 的角色由 “只读” 改为 “操作员”/);
            await page.click(`#confirm-dialog button[value=${answer}]`);
            await page.locator('#confirm-dialog[open]').waitFor({ state: 'detached' });
            if (answer === 'cancel') {
                await waitFor(async () => (await select.inputValue()) === 'viewer', { what: 'the dropdown back on the old role' });
                assert.equal((await account()).role, 'viewer');
            }
        }
        await waitFor(async () => (await account()).role === 'operator', { what: 'the new role' });

        await page.click('#accounts-table tr[data-key="ops-ui"] button:has-text("重置密码")');
        await page.locator('#confirm-dialog[open]').waitFor();
        await page.click('#confirm-dialog button[value=confirm]');
        const shown = await page.locator('#password-temporary').inputValue();
        assert.match(shown, /^[A-Za-z2-9]{16}$/);
        const login = await fetch(`${service.base}/KORVA/v2/auth/login`, {
            method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ name: 'ops-ui', password: shown }),
        });
        assert.equal(login.status, 200);
        assert.equal((await login.json()).passwordChangeRequired, true);
        await screenshot(page, 'admin-password-reset');
        assert.deepEqual(page.consoleErrors, []);
    });

    test('the admin edits a terminal in the drawer: the change carries the session\'s token', async () => {
        terminal = await new Terminal({ sn: SN, type: 'TLG', plate: '闽D24680' }).connect(service.tcpPort);
        // Its first report registers it; the device list shows it at its next refresh.
        terminal.send(Command.Report, terminal.reportBody());
        await page.click('nav a[data-page="devices"]');
        const row = page.locator(`#device-canvas [data-key="${SN}"]`);
        await page.waitForFunction((sn) => {
            document.getElementById('devices-refresh').click();
            return !!document.querySelector(`#device-canvas [data-key="${sn}"]`);
        }, SN, { polling: 500 });
        await row.locator('[data-col="devSN"]').click();
        await page.locator('#drawer-pending').waitFor();
        await page.check('#drawer-pending [name=GetPrintFile]');
        const [patch] = await Promise.all([page.waitForResponse((r) => r.request().method() === 'PATCH'), page.click('#drawer-save')]);
        assert.equal(patch.status(), 200);
        assert.ok(patch.request().headers()['x-csrf-token'], 'a change without the token is refused');
        await page.locator('#drawer-pending-message.message-success').waitFor();
        await page.keyboard.press('Escape');
        await page.waitForFunction((sn) => document.querySelector(`#device-canvas [data-key="${sn}"] [data-col="pending"]`)?.textContent === '打印', SN);
    });

    test('after logout a viewer sees the data but none of the changes', async () => {
        await page.click('#logout-button');
        await logIn('viewer-ui', 'handed-over');
        await changePassword('handed-over', 'viewer-ui-secret');
        assert.equal(await page.textContent('#account-role'), '只读');
        assert.equal(await page.isVisible('nav a[data-page="admin"]'), false);
        await page.click('nav a[data-page="packages"]');
        await page.locator('#packages-table').waitFor();
        assert.equal(await page.isVisible('#upload-form'), false);
        await page.click('nav a[data-page="upgrades"]');
        await page.waitForSelector('#page-upgrades:not([hidden])');
        assert.equal(await page.isVisible('#stop-upload'), false);
        await page.click('nav a[data-page="exchange"]');
        await page.waitForSelector('#page-exchange:not([hidden])');
        assert.equal(await page.isVisible('#export-button'), true);
        assert.equal(await page.isVisible('#import-button'), false);
        await page.goto('/#/admin');
        await page.waitForSelector('#page-devices:not([hidden])');
        // The drawer shows the requests but cannot change them; ticking rows offers no bulk request.
        await page.locator(`#device-canvas [data-key="${SN}"] [data-col="devSN"]`).click();
        await page.locator('#drawer-pending').waitFor();
        assert.equal(await page.isChecked('#drawer-pending [name=GetPrintFile]'), true);
        assert.equal(await page.isDisabled('#drawer-pending [name=GetPrintFile]'), true);
        assert.equal(await page.locator('#drawer-save, #drawer-release-pin').count(), 0);
        await page.keyboard.press('Escape');
        await page.locator('#device-drawer[open]').waitFor({ state: 'detached' });
        assert.equal(await page.isVisible('#bulk-bar'), false);
        // A ticked row says why no request is offered.
        await page.locator(`#device-canvas [data-key="${SN}"] [data-col="select"] input`).check();
        await page.locator('#bulk-viewer-note').waitFor();
        assert.match(await page.textContent('#bulk-viewer-note'), /已选择 1 台设备。你的账户是只读角色/);
        assert.equal(await page.isVisible('#bulk-bar'), false);
        // The server refuses what the page hides, whatever the browser sends.
        const status = await page.evaluate(async () => (await fetch('/KORVA/stopUpload', { method: 'PUT' })).status);
        assert.equal(status, 403);
        await screenshot(page, 'viewer-devices');
    });
});
