// System administration, for admins: accounts, API tokens, webhooks and the audit trail.
import { attachmentName, callJson, request } from './api.js';
import { confirmAction, el, notify, notifyError, setMessage } from './ui.js';
import { roleName, session } from './session.js';

const PAGE = 20;
// The trail stores the action's name; the operator reads what it did.
const ACTIONS = {
    login: '登录',
    login_failed: '登录失败',
    logout: '退出登录',
    password_change: '修改密码',
    package_upload: '上传升级包',
    package_delete: '删除升级包',
    device_edit: '修改设备待办',
    device_import: '导入设备清单',
    forced_upgrade_clear: '清除强制升级',
    account_create: '创建账户',
    account_update: '修改账户',
    account_delete: '删除账户',
    token_create: '创建令牌',
    token_revoke: '吊销令牌',
    webhook_create: '创建 Webhook',
    webhook_delete: '删除 Webhook',
    pin_release: '解除设备ID绑定',
    rollout_plan_set: '设置发布计划',
    rollout_resume: '继续发布',
    rollout_advance: '开放下一阶段',
    rollout_cancel: '取消发布',
    rollout_pause: '暂停发布',
    rollout_restart: '新包重新发布',
    rollout_schedule: '设置发布时段',
    retry_release: '放行重试上限扣留的终端',
};
// The words of the members of a summary stored as JSON (device edits and imports).
const SUMMARY_WORDS = {
    devSN: '序列号', set: '设置', filter: '条件', serials: '序列号', updated: '修改台数',
    isAutoUpdate: '强制升级', ConfigCmd: '配置指令', GetLogFile: '日志文件', GetIndexFile: '录像索引文件',
    GetPrintFile: '打印文件', GetRunInfoFile: '行车信息文件',
    q: '搜索', devType: '型号', online: '在线', pending: '待办', upgradeState: '升级状态',
    versions: '写入版本', summary: '结果', rows: '行数', inserted: '新增', unchanged: '未变',
    skipped: '跳过', flagged: '需核对', versionsKept: '保留版本',
};
// What a webhook may be told about, as the service names it.
const EVENTS = {
    rollout_paused: '发布暂停',
    stage_opened: '阶段开放',
    plan_finished: '发布完成',
    failure_threshold_near: '接近失败阈值',
    terminals_stalled: '终端升级停滞',
    identity_conflict: '设备身份冲突',
};
const OUTCOMES = { delivered: '已送达', retrying: '待重试', failed: '失败' };
let auditOffset = 0;

function roleSelect(value, onchange) {
    return el('select', { class: 'role-select', onchange },
        ['viewer', 'operator', 'admin'].map((r) => el('option', { value: r, selected: r === value, text: roleName(r) })));
}

function summaryValue(value) {
    if (value === true) return '是';
    if (value === false) return '否';
    if (value === '') return '（空）';
    if (Array.isArray(value)) return value.length > 5 ? `${value.slice(0, 5).join('、')} 等 ${value.length} 个` : value.join('、');
    if (value && typeof value === 'object') {
        const parts = Object.entries(value).map(([k, v]) => `${SUMMARY_WORDS[k] || k}：${summaryValue(v)}`);
        return parts.length ? parts.join('，') : '无';
    }
    return String(value);
}

// A summary stored as JSON is read out in words; the stored text stays in the tooltip.
function summaryText(summary) {
    if (!summary || summary[0] !== '{') return summary;
    try {
        return summaryValue(JSON.parse(summary));
    } catch {
        return summary;
    }
}

// A date field's day as seconds since 1970 from the browser's midnight; next: the day after.
function daySeconds(id, next = false) {
    const value = document.getElementById(id).value;
    if (!value) return '';
    const [y, m, d] = value.split('-').map(Number);
    return String(Math.floor(new Date(y, m - 1, d + (next ? 1 : 0)).getTime() / 1000));
}

function time(text) {
    return text ? text.replace('T', ' ').replace(/\.\d+$/, '') : '—';
}

function table(id, headers, rows) {
    document.getElementById(id).replaceChildren(
        el('thead', {}, el('tr', {}, headers.map((h) => el('th', { text: h })))),
        el('tbody', {}, rows));
}

async function loadAccounts() {
    const { accounts } = await callJson('GET', '/KORVA/v2/accounts');
    table('accounts-table', ['账户', '角色', '状态', '创建时间', '操作'], accounts.map((a) => el('tr', { dataset: { key: a.name } },
        el('td', { class: 'strong', text: a.name }),
        el('td', {}, roleSelect(a.role, (e) => changeRole(a, e.target))),
        el('td', { text: a.mustChangePassword ? '待修改初始密码' : '正常' }),
        el('td', { class: 'nowrap', text: time(a.createdAt) }),
        el('td', { class: 'nowrap' },
            el('button', { class: 'btn btn-small', type: 'button', text: '重置密码', onclick: () => resetPassword(a.name) }),
            a.name === session.account ? null
                : el('button', { class: 'btn btn-small btn-danger-ghost', type: 'button', text: '删除', onclick: () => removeAccount(a.name) })))));
}

async function changeAccount(name, change) {
    try {
        await callJson('PUT', `/KORVA/v2/accounts/${encodeURIComponent(name)}`, change);
        notify('success', '已保存', name);
    } catch (err) {
        notifyError(`修改账户 “${name}”`, err);
    }
    await loadAccounts().catch((err) => notifyError('读取账户', err));
}

// Nothing is saved until the admin has read the old and the new role side by side.
async function changeRole(account, select) {
    const role = select.value;
    const self = account.name === session.account && role !== 'admin';
    const confirmed = await confirmAction({
        title: '修改角色',
        body: `将账户 “${account.name}” 的角色由 “${roleName(account.role)}” 改为 “${roleName(role)}”。`
            + (self ? '这是你自己的账户：保存后你将无法再管理账户。' : ''),
        confirmText: '修改角色', danger: self,
    });
    if (!confirmed) {
        select.value = account.role;
        return;
    }
    await changeAccount(account.name, { role });
    // Without the admin role this page is no longer one's own: the pages start again as the new role.
    if (self) location.reload();
}

// Its owner must choose a new password at the next login, so the admin hands over a generated
// one instead of inventing one: shown once, to be copied.
function temporaryPassword() {
    const alphabet = 'ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz23456789';
    const limit = 256 - (256 % alphabet.length); // no letter more likely than another
    let password = '';
    while (password.length < 16) {
        for (const byte of crypto.getRandomValues(new Uint8Array(32))) {
            if (byte < limit && password.length < 16) password += alphabet[byte % alphabet.length];
        }
    }
    return password;
}

function copyButton(input) {
    return el('button', { class: 'btn btn-small', type: 'button', id: 'password-copy', text: '复制', onclick: async (event) => {
        input.select();
        // The clipboard API is there only on HTTPS or localhost; elsewhere the selection is copied.
        const copied = navigator.clipboard ? await navigator.clipboard.writeText(input.value).then(() => true, () => false)
            : document.execCommand('copy');
        event.target.textContent = copied ? '已复制' : '请手动复制';
    } });
}

async function resetPassword(name) {
    if (!(await confirmAction({ title: '重置密码', body: `将为 “${name}” 生成临时密码。其现有会话立即结束，下次登录时须修改密码。`, confirmText: '重置密码', danger: true }))) return;
    const password = temporaryPassword();
    const message = document.getElementById('account-message');
    try {
        await callJson('PUT', `/KORVA/v2/accounts/${encodeURIComponent(name)}`, { password });
    } catch (err) {
        setMessage(message, 'error', `重置 “${name}” 的密码失败：${err.message}`);
        return;
    }
    setMessage(message, 'success', `“${name}” 的临时密码只显示这一次，请复制后交给对方：`);
    const field = el('input', { id: 'password-temporary', class: 'mono', readonly: true, value: password, 'aria-label': '临时密码' });
    message.append(el('div', { class: 'secret-copy' }, field, copyButton(field)));
    await loadAccounts().catch((err) => notifyError('读取账户', err));
}

async function removeAccount(name) {
    if (!(await confirmAction({ title: '删除账户', body: `确定删除账户 “${name}” 吗？其所有会话将立即结束。`, confirmText: '删除', danger: true }))) return;
    try {
        await callJson('DELETE', `/KORVA/v2/accounts/${encodeURIComponent(name)}`);
        notify('success', '已删除账户', name);
    } catch (err) {
        notifyError(`删除账户 “${name}”`, err);
    }
    await loadAccounts().catch((err) => notifyError('读取账户', err));
}

async function loadTokens() {
    const { tokens } = await callJson('GET', '/KORVA/v2/tokens');
    table('tokens-table', ['名称', '角色', '创建者', '创建时间', '到期时间', '最近使用', '操作'], tokens.map((t) => el('tr', { dataset: { key: t.name } },
        el('td', { class: 'strong', text: t.name }),
        el('td', { text: roleName(t.role) }),
        el('td', { text: t.createdBy || '—' }),
        el('td', { class: 'nowrap', text: time(t.createdAt) }),
        el('td', { class: 'nowrap', text: time(t.expiresAt) }),
        el('td', { class: 'nowrap', text: time(t.lastUsedAt) }),
        el('td', {}, el('button', { class: 'btn btn-small btn-danger-ghost', type: 'button', text: '吊销', onclick: () => revokeToken(t) })))));
}

async function revokeToken(token) {
    if (!(await confirmAction({ title: '吊销令牌', body: `确定吊销令牌 “${token.name}” 吗？使用它的脚本将立即无法访问。`, confirmText: '吊销', danger: true }))) return;
    try {
        await callJson('DELETE', `/KORVA/v2/tokens/${token.id}`);
        notify('success', '已吊销令牌', token.name);
    } catch (err) {
        notifyError(`吊销令牌 “${token.name}”`, err);
    }
    await loadTokens().catch((err) => notifyError('读取令牌', err));
}

async function loadWebhooks() {
    const { webhooks } = await callJson('GET', '/KORVA/v2/webhooks');
    table('webhooks-table', ['接收地址', '事件', '创建者', '创建时间', '操作'], webhooks.map((w) => el('tr', { dataset: { key: String(w.id) } },
        el('td', { class: 'mono', text: w.url }),
        el('td', { text: w.events.map((e) => EVENTS[e] || e).join('、') }),
        el('td', { text: w.createdBy || '—' }),
        el('td', { class: 'nowrap', text: time(w.createdAt) }),
        el('td', { class: 'nowrap' },
            el('button', { class: 'btn btn-small', type: 'button', text: '投递记录', onclick: () => showDeliveries(w) }),
            el('button', { class: 'btn btn-small btn-danger-ghost', type: 'button', text: '删除', onclick: () => removeWebhook(w) })))));
}

async function showDeliveries(webhook) {
    try {
        const { deliveries } = await callJson('GET', `/KORVA/v2/webhooks/${webhook.id}/deliveries`);
        document.getElementById('webhook-deliveries-title').textContent = `最近投递：${webhook.url}`;
        table('webhook-deliveries-table', ['时间', '事件', '第几次', '状态码', '结果', '原因'], deliveries.map((d) => el('tr', { dataset: { outcome: d.outcome } },
            el('td', { class: 'nowrap', text: time(d.at) }),
            el('td', { text: EVENTS[d.event] || d.event }),
            el('td', { text: d.attempt }),
            el('td', { text: d.status || '—' }),
            el('td', { text: OUTCOMES[d.outcome] || d.outcome }),
            el('td', { text: d.error || '' }))));
        document.getElementById('webhook-deliveries').hidden = false;
    } catch (err) {
        notifyError('读取投递记录', err);
    }
}

async function removeWebhook(webhook) {
    if (!(await confirmAction({ title: '删除 Webhook', body: `确定删除 “${webhook.url}” 吗？它将不再收到通知，投递记录一并删除。`, confirmText: '删除', danger: true }))) return;
    try {
        await callJson('DELETE', `/KORVA/v2/webhooks/${webhook.id}`);
        notify('success', '已删除 Webhook', webhook.url);
        document.getElementById('webhook-deliveries').hidden = true;
    } catch (err) {
        notifyError(`删除 Webhook “${webhook.url}”`, err);
    }
    await loadWebhooks().catch((err) => notifyError('读取 Webhook', err));
}

function auditQuery() {
    const params = new URLSearchParams();
    const account = document.getElementById('audit-account').value.trim();
    const action = document.getElementById('audit-action').value.trim();
    if (account) params.set('account', account);
    if (action) params.set('action', action);
    const from = daySeconds('audit-from');
    const to = daySeconds('audit-to', true);
    if (from) params.set('from', from);
    if (to) params.set('to', to);
    return params;
}

async function loadAudit() {
    const params = auditQuery();
    params.set('offset', auditOffset);
    params.set('limit', PAGE);
    const page = await callJson('GET', `/KORVA/v2/audit?${params}`);
    table('audit-table', ['时间', '账户', '来源地址', '接口', '操作', '摘要'], page.entries.map((e) => el('tr', {},
        el('td', { class: 'nowrap', text: time(e.time) }),
        el('td', { text: e.account || '—' }),
        el('td', { class: 'mono', text: e.address }),
        el('td', { class: 'mono', text: e.route }),
        el('td', { text: ACTIONS[e.action] || e.action, title: e.action, dataset: { action: e.action } }),
        el('td', { class: 'audit-summary', text: summaryText(e.summary), title: e.summary }))));
    const last = Math.min(page.total, auditOffset + page.entries.length);
    document.getElementById('audit-summary').textContent = page.total ? `第 ${auditOffset + 1}–${last} 条，共 ${page.total} 条` : '没有记录';
    document.getElementById('audit-prev').disabled = auditOffset === 0;
    document.getElementById('audit-next').disabled = last >= page.total;
}

async function exportAudit() {
    try {
        const response = await request('GET', `/KORVA/v2/audit.csv?${auditQuery()}`);
        const link = el('a', { href: URL.createObjectURL(await response.blob()), download: attachmentName(response, 'audit.csv') });
        link.click();
        URL.revokeObjectURL(link.href);
    } catch (err) {
        notifyError('导出审计记录', err);
    }
}

export const adminPage = {
    activate() {
        for (const [what, load] of [['账户', loadAccounts], ['令牌', loadTokens], ['Webhook', loadWebhooks], ['审计记录', loadAudit]])
            load().catch((err) => notifyError(`读取${what}`, err));
    },
    deactivate() {},
};

export function initAdmin() {
    document.getElementById('audit-action').append(...Object.entries(ACTIONS).map(([value, text]) => el('option', { value, text })));
    document.getElementById('account-form').addEventListener('submit', async (event) => {
        event.preventDefault();
        const message = document.getElementById('account-message');
        const form = event.target;
        try {
            const created = await callJson('POST', '/KORVA/v2/accounts', {
                name: form.elements.name.value.trim(), role: form.elements.role.value, password: form.elements.password.value,
            });
            form.reset();
            setMessage(message, 'success', `已创建账户 “${created.name}”，对方首次登录时须修改密码。`);
        } catch (err) {
            setMessage(message, 'error', err.message);
        }
        await loadAccounts().catch((err) => notifyError('读取账户', err));
    });
    document.getElementById('token-form').addEventListener('submit', async (event) => {
        event.preventDefault();
        const message = document.getElementById('token-message');
        const form = event.target;
        try {
            const created = await callJson('POST', '/KORVA/v2/tokens', {
                name: form.elements.name.value.trim(), role: form.elements.role.value, expiresInDays: Number(form.elements.days.value),
            });
            form.reset();
            setMessage(message, 'success', `令牌 “${created.name}” 只显示这一次，请立即保存：`);
            message.append(el('code', { id: 'token-secret', class: 'mono secret', text: created.token }));
        } catch (err) {
            setMessage(message, 'error', err.message);
        }
        await loadTokens().catch((err) => notifyError('读取令牌', err));
    });
    document.getElementById('webhook-new-events').replaceChildren(...Object.entries(EVENTS).map(([value, label]) =>
        el('label', { class: 'check' }, el('input', { type: 'checkbox', name: 'events', value }), label)));
    document.getElementById('webhook-form').addEventListener('submit', async (event) => {
        event.preventDefault();
        const message = document.getElementById('webhook-message');
        const form = event.target;
        try {
            const created = await callJson('POST', '/KORVA/v2/webhooks', {
                url: form.elements.url.value.trim(),
                events: [...form.querySelectorAll('input[name=events]:checked')].map((box) => box.value),
            });
            form.reset();
            setMessage(message, 'success', `Webhook 的签名密钥只显示这一次，请立即保存：`);
            message.append(el('code', { id: 'webhook-secret', class: 'mono secret', text: created.secret }));
        } catch (err) {
            setMessage(message, 'error', err.message);
        }
        await loadWebhooks().catch((err) => notifyError('读取 Webhook', err));
    });
    document.getElementById('audit-form').addEventListener('submit', (event) => {
        event.preventDefault();
        auditOffset = 0;
        loadAudit().catch((err) => notifyError('读取审计记录', err));
    });
    document.getElementById('audit-prev').addEventListener('click', () => {
        auditOffset = Math.max(0, auditOffset - PAGE);
        loadAudit().catch((err) => notifyError('读取审计记录', err));
    });
    document.getElementById('audit-next').addEventListener('click', () => {
        auditOffset += PAGE;
        loadAudit().catch((err) => notifyError('读取审计记录', err));
    });
    document.getElementById('audit-export').addEventListener('click', exportAudit);
}
