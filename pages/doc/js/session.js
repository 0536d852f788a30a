// Who is logged in: the login form, the forced password change, the account in the sidebar,
// and which actions the role may see (elements with data-min-role are hidden below it).
import { ApiError, callJson, setCsrfToken, setUnauthorizedHandler } from './api.js';
import { notify, setMessage } from './ui.js';

const ROLE_NAMES = { viewer: '只读', operator: '操作员', admin: '管理员' };
const RANK = { viewer: 1, operator: 2, admin: 3 };

export const session = { account: '', role: '', loginRequired: true };

export function allows(role) {
    return (RANK[session.role] || 0) >= (RANK[role] || 0);
}

export function roleName(role) {
    return ROLE_NAMES[role] || role;
}

function apply(me) {
    Object.assign(session, { account: me.account, role: me.role, loginRequired: me.loginRequired });
    setCsrfToken(me.csrfToken);
    document.body.dataset.role = me.role;
    document.getElementById('account-name').textContent = me.loginRequired ? me.account : '未启用登录';
    document.getElementById('account-role').textContent = roleName(me.role);
    document.getElementById('logout-button').hidden = !me.loginRequired;
    document.getElementById('change-password-button').hidden = !me.loginRequired;
    document.getElementById('account-box').hidden = false;
}

// One of the three views: the login form, the password change, or the pages.
function showView(name) {
    document.getElementById('login-view').hidden = name !== 'login';
    document.getElementById('password-view').hidden = name !== 'password';
    document.querySelector('.shell').hidden = name !== 'app';
    if (name === 'login') document.getElementById('login-name').focus();
    if (name === 'password') document.getElementById('password-current').focus();
}

// Resolves once the pages may be shown; until then the login or password form is up.
export function start() {
    return new Promise((resolve) => {
        let started = false;
        const enter = (me) => {
            apply(me);
            document.getElementById('password-cancel').hidden = me.passwordChangeRequired;
            if (me.passwordChangeRequired) return showView('password');
            showView('app');
            if (!started) {
                started = true;
                resolve();
            }
        };
        setUnauthorizedHandler(() => {
            setCsrfToken('');
            showView('login');
        });

        document.getElementById('login-form').addEventListener('submit', async (event) => {
            event.preventDefault();
            const message = document.getElementById('login-message');
            setMessage(message, '', '');
            try {
                const me = await callJson('POST', '/KORVA/v2/auth/login', {
                    name: document.getElementById('login-name').value.trim(),
                    password: document.getElementById('login-password').value,
                });
                document.getElementById('login-password').value = '';
                enter(me);
            } catch (err) {
                const text = err instanceof ApiError && err.status === 401 ? '账户或密码错误' : err.message;
                setMessage(message, 'error', text);
            }
        });

        document.getElementById('password-form').addEventListener('submit', async (event) => {
            event.preventDefault();
            const message = document.getElementById('password-message');
            const next = document.getElementById('password-new').value;
            if (next !== document.getElementById('password-repeat').value) {
                setMessage(message, 'error', '两次输入的新密码不一致');
                return;
            }
            try {
                const me = await callJson('POST', '/KORVA/v2/auth/password', {
                    currentPassword: document.getElementById('password-current').value,
                    newPassword: next,
                });
                event.target.reset();
                setMessage(message, '', '');
                notify('success', '密码已修改');
                enter(me);
            } catch (err) {
                setMessage(message, 'error', err.message);
            }
        });

        document.getElementById('logout-button').addEventListener('click', async () => {
            try {
                await callJson('POST', '/KORVA/v2/auth/logout');
            } finally {
                setCsrfToken('');
                location.reload();
            }
        });
        document.getElementById('change-password-button').addEventListener('click', () => {
            document.getElementById('password-cancel').hidden = false;
            showView('password');
        });
        document.getElementById('password-cancel').addEventListener('click', () => {
            if (session.role) showView('app');
        });

        callJson('GET', '/KORVA/v2/auth/me').then(enter, () => showView('login'));
    });
}
