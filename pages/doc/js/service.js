// The sidebar's service indicator: reachable, unreachable or not answering.
import { formatClock } from './ui.js';

export function reportService(ok, err) {
    const box = document.getElementById('service-state');
    if (!box) return;
    const text = box.querySelector('.state-text');
    if (ok || (err && err.kind === 'http')) {
        box.dataset.state = 'up';
        text.textContent = `服务在线 · ${formatClock()}`;
    } else if (err && (err.kind === 'network' || err.kind === 'timeout')) {
        box.dataset.state = 'down';
        text.textContent = err.kind === 'timeout' ? `服务无应答 · ${formatClock()}` : `无法连接服务 · ${formatClock()}`;
    }
}
