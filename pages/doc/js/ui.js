// Small DOM helpers shared by the pages: element builder, notices, confirmation dialog, formats.
import { formatServerClock } from './clock.js';

export function el(tag, attrs = {}, ...children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attrs)) {
        if (value === undefined || value === null || value === false) continue;
        if (key === 'class') node.className = value;
        else if (key === 'text') node.textContent = value;
        else if (key === 'dataset') Object.assign(node.dataset, value);
        else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
        else node.setAttribute(key, value === true ? '' : value);
    }
    for (const child of children.flat()) {
        if (child === undefined || child === null || child === false) continue;
        node.append(child instanceof Node ? child : document.createTextNode(String(child)));
    }
    return node;
}

// Notices stack at the top right. Errors stay until closed: nothing fails silently.
export function notify(kind, title, message = '') {
    const box = document.getElementById('notices');
    const close = el('button', { class: 'notice-close', type: 'button', 'aria-label': '关闭', text: '×' });
    const notice = el('div', { class: `notice notice-${kind}`, role: kind === 'error' ? 'alert' : 'status' },
        el('div', { class: 'notice-body' }, el('strong', { text: title }), message ? el('div', { text: message }) : null),
        close);
    close.addEventListener('click', () => notice.remove());
    box.prepend(notice);
    if (kind !== 'error') setTimeout(() => notice.remove(), 4000);
    while (box.children.length > 6) box.lastElementChild.remove();
    return notice;
}

export function notifyError(action, err) {
    return notify('error', `${action}失败`, err && err.message ? err.message : String(err));
}

// Inline message inside a panel (result of an action), replacing the previous one.
export function setMessage(target, kind, text) {
    target.replaceChildren();
    if (!text) {
        target.hidden = true;
        return;
    }
    target.hidden = false;
    target.className = `message message-${kind}`;
    target.textContent = text;
}

// Confirmation with the page's own dialog; resolves true when confirmed. `content` (nodes) goes
// below the text, for the inputs an action needs; Enter confirms, Escape cancels.
// typed: a text the operator must type before the confirm button works, for actions too large to
// take on one click.
export function confirmAction({ title, body, confirmText = '确定', danger = false, content = null, focus = null, typed = null }) {
    const dialog = document.getElementById('confirm-dialog');
    dialog.querySelector('.dialog-title').textContent = title;
    dialog.querySelector('.dialog-body').textContent = body;
    const ok = dialog.querySelector('[value=confirm]');
    const extra = content ? [content].flat() : [];
    ok.disabled = typed !== null;
    if (typed !== null) {
        const input = el('input', { id: 'confirm-typed', autocomplete: 'off', inputmode: 'numeric', 'aria-label': `输入 ${typed} 以确认` });
        input.addEventListener('input', () => { ok.disabled = input.value.trim() !== String(typed); });
        extra.push(el('label', { class: 'field' }, el('span', { text: `请输入 ${typed} 以确认` }), input));
        focus = focus || input;
    }
    dialog.querySelector('.dialog-extra').replaceChildren(...extra);
    ok.textContent = confirmText;
    ok.className = danger ? 'btn btn-danger' : 'btn btn-primary';
    dialog.returnValue = '';
    dialog.showModal();
    (focus || ok).focus();
    return new Promise((resolve) => {
        dialog.addEventListener('close', () => resolve(dialog.returnValue === 'confirm'), { once: true });
    });
}

export function progressBar(percent, label) {
    const value = Math.max(0, Math.min(100, Number(percent) || 0));
    const bar = el('div', {
        class: `bar${value >= 100 ? ' bar-done' : ''}`,
        role: 'progressbar',
        'aria-valuemin': '0',
        'aria-valuemax': '100',
        'aria-valuenow': String(value),
        'aria-label': label || '进度',
    }, el('div', { class: 'bar-fill', style: `width:${value}%` }));
    return bar;
}

export function formatBytes(n) {
    const bytes = Number(n) || 0;
    if (bytes < 1024) return `${bytes} B`;
    const units = ['KiB', 'MiB', 'GiB'];
    let v = bytes / 1024;
    let u = 0;
    while (v >= 1024 && u < units.length - 1) {
        v /= 1024;
        ++u;
    }
    return `${v.toFixed(v < 10 ? 2 : 1)} ${units[u]}`;
}

// The service's time of day (the browser's clock may be wrong).
export function formatClock() {
    return formatServerClock();
}

// Empty cells read as a dash, so a blank is never mistaken for a missing column.
export function cell(value) {
    return value === undefined || value === null || value === '' ? el('span', { class: 'muted', text: '—' }) : String(value);
}

// Sortable table body helper: columns [{ key, title, render?, sort? }].
export function renderTable(table, columns, rows, { rowKey, emptyText, sortState, onSort, rowClass } = {}) {
    const thead = el('thead', {}, el('tr', {}, columns.map((col) => {
        const active = sortState && sortState.key === col.key;
        const th = el('th', {
            scope: 'col',
            title: col.hint,
            class: [col.class, col.sortable === false ? '' : 'sortable', active ? `sorted-${sortState.dir}` : ''].filter(Boolean).join(' '),
            'aria-sort': active ? (sortState.dir === 'asc' ? 'ascending' : 'descending') : undefined,
        }, col.title);
        if (onSort && col.sortable !== false) th.addEventListener('click', () => onSort(col.key));
        return th;
    })));
    let sorted = rows;
    if (sortState && sortState.key) {
        const col = columns.find((c) => c.key === sortState.key);
        const get = (col && col.sortValue) || ((r) => r[sortState.key]);
        sorted = [...rows].sort((a, b) => {
            const x = get(a);
            const y = get(b);
            const cmp = typeof x === 'number' && typeof y === 'number'
                ? x - y
                : String(x ?? '').localeCompare(String(y ?? ''), 'zh-CN', { numeric: true });
            return sortState.dir === 'asc' ? cmp : -cmp;
        });
    }
    const tbody = el('tbody');
    if (sorted.length === 0) {
        tbody.append(el('tr', { class: 'empty-row' }, el('td', { colspan: String(columns.length), text: emptyText || '没有数据' })));
    }
    for (const row of sorted) {
        const tr = el('tr', { dataset: rowKey ? { key: String(rowKey(row)) } : {}, class: rowClass ? rowClass(row) : undefined });
        for (const col of columns) {
            const content = col.render ? col.render(row) : cell(row[col.key]);
            tr.append(el('td', { class: col.class, 'data-col': col.key }, content));
        }
        tbody.append(tr);
    }
    table.replaceChildren(thead, tbody);
}
