// Packages page: the package list, block-wise upload with progress and an optional rollout plan
// set after its last block, deletion with confirmation.
import { api, unsafeQueryValue, v2 } from './api.js';
import { labelFromServerTime, syncClock } from './clock.js';
import { el, confirmAction, formatBytes, formatClock, notifyError, renderTable, setMessage } from './ui.js';
import { reportService } from './service.js';
import { devicesPage } from './devices.js';
import { createPlanEditor } from './planeditor.js';

const state = { packages: [], sort: { key: 'deviceType', dir: 'asc' }, upload: null, highlight: null, plan: null };

const columns = [
    // What an operator looks for first comes first: at 1366 pixels the actions stay in view.
    { key: 'deviceType', title: '设备型号' },
    { key: 'name', title: '文件名', class: 'strong' },
    { key: 'AppVersion', title: 'APP版本', class: 'mono' },
    {
        key: 'size', title: '大小', hint: '上传时声明的字节数', class: 'num nowrap',
        render: (p) => el('span', { title: `${p.size} 字节`, dataset: { bytes: String(p.size) } }, formatBytes(p.size)),
    },
    { key: 'uploadTime', title: '上传时间', hint: '服务主机的本地时间', class: 'nowrap' },
    {
        key: 'actions', title: '操作', sortable: false, class: 'nowrap',
        render: (p) => el('span', { class: 'row-actions' },
            el('a', { class: 'btn btn-small', href: `/KORVA/v2/packages/${p.id}/file`, download: p.name, 'data-action': 'download', text: '下载' }),
            el('a', { class: 'btn btn-small', href: `#/rollout/${p.id}`, 'data-action': 'rollout', text: '发布情况' }),
            el('button', { class: 'btn btn-small btn-danger-ghost', type: 'button', 'data-min-role': 'operator', onclick: () => remove(p), text: '删除' })),
    },
    { key: 'McuVersion', title: 'MCU版本', class: 'mono' },
    { key: 'FourGVersion', title: '4G模块版本', class: 'mono' },
    { key: 'GnssVersion', title: 'GNSS版本', class: 'mono' },
    { key: 'SmartModule', title: '智能模块版本', class: 'mono' },
    { key: 'id', title: '编号', class: 'num' },
];

function render() {
    renderTable(document.getElementById('packages-table'), columns, state.packages, {
        rowKey: (p) => p.id,
        emptyText: '还没有升级包',
        sortState: state.sort,
        onSort: (key) => {
            state.sort = { key, dir: state.sort.key === key && state.sort.dir === 'asc' ? 'desc' : 'asc' };
            render();
        },
        rowClass: (p) => (state.highlight && p.name === state.highlight ? 'row-new' : undefined),
    });
    document.getElementById('packages-summary').replaceChildren(
        el('span', {}, '共 ', el('b', { text: String(state.packages.length) }), ' 个升级包'),
        el('span', { class: 'muted', text: `更新于 ${formatClock()}` }));
    const types = new Set([...devicesPage.knownTypes(), ...state.packages.map((p) => p.deviceType)]);
    document.getElementById('known-types').replaceChildren(...[...types].filter(Boolean).sort().map((t) => el('option', { value: t })));
}

async function load() {
    try {
        state.packages = (await api.packageList()).list;
        reportService(true);
    } catch (err) {
        reportService(false, err);
        notifyError('读取升级包列表', err);
    }
    render();
}

async function remove(pkg) {
    const ok = await confirmAction({
        title: '删除升级包',
        body: `确定删除设备型号 “${pkg.deviceType}” 的升级包 “${pkg.name}”（ID ${pkg.id}）吗？文件将从服务器上删除，此后该型号的终端不会再升级，直到上传新包。`,
        confirmText: '删除',
        danger: true,
    });
    if (!ok) return;
    try {
        await api.deletePackage(pkg.id);
        // Said beside the list, not in a notice over it.
        setMessage(document.getElementById('packages-message'), 'success', `已删除升级包 ${pkg.name}（${formatClock()}）。`);
    } catch (err) {
        notifyError(`删除升级包 “${pkg.name}”`, err);
    }
    await load();
}

function setProgress(done, total, text) {
    const pct = total ? Math.floor((done * 100) / total) : 0;
    document.getElementById('upload-progress').hidden = false;
    document.getElementById('upload-progress-text').textContent = text;
    document.getElementById('upload-progress-pct').textContent = `${pct}%`;
    const bar = document.getElementById('upload-bar');
    bar.setAttribute('aria-valuenow', String(pct));
    bar.classList.toggle('bar-done', pct >= 100);
    bar.classList.remove('bar-failed');
    bar.firstElementChild.style.width = `${pct}%`;
}

function formValues() {
    const get = (id) => document.getElementById(id).value.trim();
    return {
        file: document.getElementById('upload-file').files[0],
        type: get('upload-type'),
        app: get('upload-app'),
        mcu: get('upload-mcu'),
        fourG: get('upload-fourg'),
        gnss: get('upload-gnss'),
        smart: get('upload-smart'),
        blockBytes: Number(document.getElementById('upload-block').value),
    };
}

function validate(v) {
    if (!v.file) return '请选择升级包文件';
    if (v.file.size === 0) return '文件为空';
    if (!v.type) return '请填写设备型号';
    if (/[\\/]|\.\./.test(v.type)) return '设备型号中不能含有 “/”、“\\” 或 “..”';
    if (/[\\/]/.test(v.file.name) || v.file.name.startsWith('.')) return '文件名不可用';
    const fields = { 文件名: v.file.name, 设备型号: v.type, APP版本: v.app, MCU版本: v.mcu, '4G模块版本': v.fourG, GNSS版本: v.gnss, 智能模块版本: v.smart };
    for (const [label, value] of Object.entries(fields)) {
        if (unsafeQueryValue(value)) return `${label}中不能含有 “&” 或 “=”`;
    }
    return null;
}

function setUploading(on) {
    document.getElementById('upload-start').disabled = on;
    document.getElementById('upload-cancel').hidden = !on;
    for (const input of document.querySelectorAll('#upload-form input, #upload-form select, #upload-form textarea, #upload-plan button')) input.disabled = on;
}

// The plan to set after the upload, checked as the service would check it; a filter stage must
// also take a terminal of the type now. Refused after the last block, the plan would leave the
// package offered to every terminal of the type, so it is checked before the first.
async function uploadPlan(type, message) {
    if (!document.getElementById('upload-plan-on').checked) return { body: null };
    const read = state.plan.read();
    if (read.problem) {
        setMessage(message, 'error', `发布计划：${read.problem}`);
        return null;
    }
    for (const [i, stage] of read.body.stages.entries()) {
        if (!stage.filter) continue;
        let found;
        try {
            found = (await v2.devices({ ...stage.filter, devType: type, limit: 1 })).total;
        } catch (err) {
            setMessage(message, 'error', `发布计划：第 ${i + 1} 阶段的筛选条件无法检查：${err.message}`);
            return null;
        }
        if (!found) {
            setMessage(message, 'error', `发布计划：第 ${i + 1} 阶段的筛选条件没有选中型号 “${type}” 的任何终端`);
            document.querySelector(`#upload-plan [data-stage="${i + 1}"] [name=q]`).focus();
            return null;
        }
    }
    return read;
}

// After the last block: the package the upload recorded, and its plan.
async function setUploadedPlan(type, stored, body, message, text) {
    const pkg = state.packages.find((p) => p.deviceType === type && p.name === stored);
    const link = pkg ? el('a', { href: `#/rollout/${pkg.id}`, id: 'upload-rollout-link', text: '查看发布情况' }) : null;
    try {
        if (!pkg) throw new Error('列表中找不到刚上传的升级包');
        await v2.setPlan(pkg.id, body);
        setMessage(message, 'success', `${text}发布计划已设置：第 1 阶段已开放。`);
    } catch (err) {
        setMessage(message, 'error', `${text}但发布计划没有设置：${err.message}。在设置之前，此型号的终端都可获得此升级包，请在“发布情况”中设置计划。`);
        notifyError('设置发布计划', err);
    }
    if (link) message.append(' ', link);
}

// Blocks go one after another; the server appends each block in arrival order and records the
// package only after the last one, so a failure leaves nothing listed and a retry starts again
// from block 0 (which starts the file afresh).
async function upload(event) {
    event.preventDefault();
    const message = document.getElementById('upload-message');
    const v = formValues();
    const problem = validate(v);
    if (problem) {
        setMessage(message, 'error', problem);
        return;
    }
    const plan = await uploadPlan(v.type, message);
    if (!plan) return;
    const existing = state.packages.find((p) => p.deviceType === v.type);
    if (existing) {
        // A plan of the type goes on with the new package, from its first stage.
        const planned = await v2.plan(existing.id).then(() => true, () => false);
        const after = plan.body ? '新的发布计划将取代原计划。' : planned ? '原发布计划将用于新包，从第 1 阶段重新开始。' : '';
        const ok = await confirmAction({
            title: '替换升级包',
            body: `设备型号 “${v.type}” 已有升级包 “${existing.name}”。上传完成后，新包将替换它的记录。${after}继续吗？`,
            confirmText: '继续上传',
        });
        if (!ok) return;
    }
    const blocks = Math.ceil(v.file.size / v.blockBytes);
    // The file name's prefix is the service's time, as is the upload time it records.
    let label;
    try {
        label = labelFromServerTime((await syncClock()).serverTime);
    } catch (err) {
        setMessage(message, 'error', `无法读取服务时间，未开始上传：${err.message}`);
        return;
    }
    const controller = new AbortController();
    state.upload = controller;
    setUploading(true);
    setMessage(message, 'info', '');
    setProgress(0, v.file.size, `准备上传 ${v.file.name}（${formatBytes(v.file.size)}，共 ${blocks} 块）`);
    let sent = 0;
    const started = performance.now();
    try {
        for (let index = 0; index < blocks; ++index) {
            const blob = v.file.slice(index * v.blockBytes, Math.min(v.file.size, (index + 1) * v.blockBytes));
            setProgress(sent, v.file.size, `正在上传第 ${index + 1} / ${blocks} 块`);
            try {
                await api.uploadBlock({
                    name: v.file.name, app: v.app, mcu: v.mcu, fourG: v.fourG, gnss: v.gnss, smart: v.smart,
                    type: v.type, blockIndex: index, blockSize: blocks, totalLength: v.file.size, uploadTime: label,
                }, blob, controller.signal);
            } catch (err) {
                err.block = index;
                throw err;
            }
            sent += blob.size;
            const seconds = (performance.now() - started) / 1000;
            const rate = seconds > 0 ? `，${formatBytes(sent / seconds)}/s` : '';
            setProgress(sent, v.file.size, `已上传 ${index + 1} / ${blocks} 块（${formatBytes(sent)} / ${formatBytes(v.file.size)}${rate}）`);
        }
        const stored = `${label}_${v.file.name}`;
        state.highlight = stored;
        const text = `上传完成：${stored}（${formatBytes(v.file.size)}），已登记为设备型号 “${v.type}” 的升级包。`;
        if (plan.body) {
            await load();
            await setUploadedPlan(v.type, stored, plan.body, message, text);
        } else {
            setMessage(message, 'success', text);
        }
        document.getElementById('upload-form').reset();
        state.plan.set();
        document.getElementById('upload-file').dispatchEvent(new Event('change'));
        document.getElementById('upload-plan-on').dispatchEvent(new Event('change'));
    } catch (err) {
        const bar = document.getElementById('upload-bar');
        bar.classList.add('bar-failed');
        const where = err.block !== undefined ? `第 ${err.block + 1} / ${blocks} 块` : '上传';
        const text = err.kind === 'aborted'
            ? `已取消（${where}）。升级包没有登记；已传的部分不会出现在列表中。`
            : `${where}失败：${err.message}。升级包没有登记（只有最后一块成功后才会出现在列表中），请重新上传。`;
        setMessage(message, 'error', text);
        if (err.kind !== 'aborted') notifyError('上传升级包', err);
        reportService(false, err);
    } finally {
        state.upload = null;
        setUploading(false);
        await load();
    }
}

export function initPackages() {
    state.plan = createPlanEditor('upload-plan-editor');
    document.getElementById('upload-plan').append(state.plan.node);
    const planOn = document.getElementById('upload-plan-on');
    planOn.addEventListener('change', () => { document.getElementById('upload-plan').hidden = !planOn.checked; });
    document.getElementById('packages-refresh').addEventListener('click', load);
    document.getElementById('upload-form').addEventListener('submit', upload);
    document.getElementById('upload-cancel').addEventListener('click', () => state.upload && state.upload.abort());
    const fileInput = document.getElementById('upload-file');
    fileInput.addEventListener('change', () => {
        const file = fileInput.files[0];
        document.getElementById('upload-file-label').textContent = file ? file.name : '选择或拖入升级包文件';
        document.getElementById('upload-file-hint').textContent = file
            ? `${formatBytes(file.size)} · ${Math.ceil(file.size / Number(document.getElementById('upload-block').value))} 块`
            : '分块上传，最后一块成功后才会登记';
    });
    document.getElementById('upload-block').addEventListener('change', () => fileInput.dispatchEvent(new Event('change')));
    const drop = document.getElementById('upload-drop');
    drop.addEventListener('dragover', (e) => {
        e.preventDefault();
        drop.classList.add('drag');
    });
    drop.addEventListener('dragleave', () => drop.classList.remove('drag'));
    drop.addEventListener('drop', (e) => {
        e.preventDefault();
        drop.classList.remove('drag');
        if (e.dataTransfer.files.length) {
            fileInput.files = e.dataTransfer.files;
            fileInput.dispatchEvent(new Event('change'));
        }
    });
}

export const packagesPage = {
    activate: load,
    deactivate() {},
};
