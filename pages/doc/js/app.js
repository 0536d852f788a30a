// Entry point: wires the pages and switches between them by the address's hash (#/devices ...).
import { devicesPage, initDevices } from './devices.js';
import { initPackages, packagesPage } from './packages.js';
import { rolloutPage } from './rollout.js';
import { initRolloutPlan } from './rolloutplan.js';
import './decisions.js';
import './rolloutfailed.js';
import { initUpgrades, upgradesPage } from './upgrades.js';
import { exchangePage, initExchange } from './exchange.js';
import { adminPage, initAdmin } from './admin.js';
import { dashboardPage } from './dashboard.js';
import { initDrawer } from './drawer.js';
import { syncClock } from './clock.js';
import { allows, start } from './session.js';
import { initLanguage } from './i18n.js';

const pages = { dashboard: dashboardPage, devices: devicesPage, packages: packagesPage, rollout: rolloutPage, upgrades: upgradesPage, exchange: exchangePage, admin: adminPage };
const titles = { dashboard: '概览', devices: '设备列表', packages: '升级包', rollout: '发布情况', upgrades: '升级记录', exchange: '设备清单导入导出', admin: '系统管理' };
const CLOCK_SYNC_MS = 10 * 60 * 1000;
let current = null;

function show() {
    const name = (location.hash.match(/^#\/(\w+)/) || [])[1];
    const next = pages[name] && (name !== 'admin' || allows('admin')) ? name : 'devices';
    if (next === current) {
        if (pages[next].reroute) pages[next].reroute();
        return;
    }
    if (current) pages[current].deactivate();
    current = next;
    for (const section of document.querySelectorAll('.page')) section.hidden = section.dataset.page !== next;
    for (const link of document.querySelectorAll('nav a[data-page]')) {
        if (link.dataset.page === next) link.setAttribute('aria-current', 'page');
        else link.removeAttribute('aria-current');
    }
    document.title = `${titles[next]} · Wayfarer 终端升级管理`;
    pages[next].activate();
}

initLanguage();
initDevices();
initPackages();
initUpgrades();
initExchange();
initAdmin();
initDrawer();
initRolloutPlan();
// The pages show data only once someone is logged in (or logins are off).
await start();
// Times are shown on the service's clock; without it they fall back to the browser's.
await syncClock().catch(() => {});
setInterval(() => syncClock().catch(() => {}), CLOCK_SYNC_MS);
window.addEventListener('hashchange', show);
show();
document.body.dataset.ready = 'true';
