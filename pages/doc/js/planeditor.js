// The rollout plan editor, shared by the upload form and the rollout view: stages added, removed
// and moved, each a share, a list of serial numbers or a filter, with its minimum time and success
// share; and the plan's failure threshold. checkPlan refuses what the service would refuse, so a
// plan sent after an upload is not turned down once the package is already offered.
import { FILTER_CHOICES, VERSION_NAMES } from './names.js';
import { el } from './ui.js';

// As the service allows.
export const MAX_STAGES = 20;
export const MAX_LISTED = 100000;
const MAX_MINUTES = 525600;
const MAX_FAILURES = 1000000;

const KINDS = [['percent', '按比例'], ['serials', '序列号列表'], ['filter', '按筛选条件']];
const TEMPLATE = { stages: [{ percent: 10, minMinutes: 60, successPercent: 95 }, { percent: 100 }], pauseAtFailures: 3 };

export function splitSerials(text) {
    return [...new Set(String(text).split(/[\s,，;；]+/).filter(Boolean))];
}

// One line per filter, in the operator's words.
export function describeFilter(filter) {
    const parts = [];
    for (const [key, value] of Object.entries(filter || {})) {
        const text = String(value);
        const column = key.replace(/Not$/, '');
        if (key === 'q') parts.push(`包含“${text}”`);
        else if (key === 'devType') parts.push(`型号 ${text}`);
        else if (VERSION_NAMES[column]) parts.push(`${VERSION_NAMES[column]}${key.endsWith('Not') ? ' ≠ ' : ' = '}${text}`);
        else if (FILTER_CHOICES[key]) parts.push(FILTER_CHOICES[key][text] || text);
        else parts.push(`${key} = ${text}`);
    }
    return parts.length ? parts.join('，') : '此型号的全部终端';
}

// A stored stage's terminals in a few words.
export function stageScope(stage) {
    if (stage.kind === 'percent') return `累计 ${stage.percent}% 的终端`;
    if (stage.kind === 'serials') return `列出的 ${stage.listed} 台`;
    return `筛选出的 ${stage.listed} 台：${describeFilter(stage.filter)}`;
}

const isNumber = (v) => typeof v === 'number' && Number.isFinite(v);
const whole = (v) => isNumber(v) && Math.floor(v) === v;

// What the service would refuse in a plan body, as { message, stage (1-based, 0 for the plan),
// field }, or null.
export function checkPlan(body) {
    const stages = body.stages || [];
    if (stages.length < 1 || stages.length > MAX_STAGES) return { message: `须有 1 到 ${MAX_STAGES} 个阶段`, stage: 0, field: 'add' };
    let lastPoints = 0;
    let listed = 0;
    for (const [i, stage] of stages.entries()) {
        const n = i + 1;
        const at = (field, text) => ({ message: `第 ${n} 阶段：${text}`, stage: n, field });
        if (lastPoints >= 10000) return at('kind', '累计 100% 的阶段之后不能再有阶段');
        if (stage.minMinutes !== undefined && !(isNumber(stage.minMinutes) && stage.minMinutes >= 0 && stage.minMinutes <= MAX_MINUTES)) {
            return at('minMinutes', `最短时间须为 0 到 ${MAX_MINUTES} 分钟`);
        }
        if (stage.successPercent !== undefined && !(whole(stage.successPercent) && stage.successPercent >= 0 && stage.successPercent <= 100)) {
            return at('successPercent', '成功比例须为 0 到 100 之间的整数');
        }
        if ('percent' in stage) {
            if (!(isNumber(stage.percent) && stage.percent >= 0.01 && stage.percent <= 100)) return at('percent', '累计比例须为 0.01 到 100 之间的数');
            const points = Math.round(stage.percent * 100);
            if (points <= lastPoints) return at('percent', `累计比例须大于前面阶段的 ${lastPoints / 100}%`);
            lastPoints = points;
        } else if ('serials' in stage) {
            if (!stage.serials.length) return at('serials', '请填写至少一个序列号');
            listed += stage.serials.length;
            if (listed > MAX_LISTED) return at('serials', `各阶段列出的序列号合计不能超过 ${MAX_LISTED} 个`);
        }
    }
    const failures = body.pauseAtFailures || 0;
    const share = body.pauseAtFailurePercent || 0;
    if (!(whole(failures) && failures >= 0 && failures <= MAX_FAILURES)) return { message: `暂停条件：失败台数须为 0 到 ${MAX_FAILURES} 之间的整数`, stage: 0, field: 'pauseAtFailures' };
    if (!(whole(share) && share >= 0 && share <= 100)) return { message: '暂停条件：失败比例须为 0 到 100 之间的整数', stage: 0, field: 'pauseAtFailurePercent' };
    if (!failures && !share) return { message: '请给出暂停条件：失败台数或失败比例，至少一项', stage: 0, field: 'pauseAtFailures' };
    return null;
}

// An empty input is left out (the service's default); anything else is read as a number, NaN
// when it is not one, so that checkPlan names it.
const numberOf = (input) => (input.value.trim() === '' ? undefined : Number(input.value));

function field(label, control, extra = {}) {
    return el('label', { class: 'field', ...extra }, el('span', { text: label }), control);
}

function filterFields(filter = {}) {
    const version = Object.keys(filter).find((k) => VERSION_NAMES[k.replace(/Not$/, '')]);
    const column = version ? version.replace(/Not$/, '') : 'AppVersion';
    const extra = Object.fromEntries(Object.entries(filter).filter(([k]) => k !== 'q' && k !== 'online' && k !== version));
    const box = el('div', { class: 'plan-filter', dataset: { for: 'filter' } },
        field('搜索', el('input', { name: 'q', value: filter.q || '', placeholder: '序列号、车牌号、手机号等的一部分' })),
        el('div', { class: 'field' }, el('span', { text: '版本' }), el('div', { class: 'inline-controls' },
            el('select', { name: 'versionColumn', 'aria-label': '比较的版本' },
                Object.entries(VERSION_NAMES).map(([k, name]) => el('option', { value: k, selected: k === column, text: name }))),
            el('select', { name: 'versionOp', 'aria-label': '比较方式' },
                el('option', { value: '', text: '等于' }), el('option', { value: 'Not', selected: !!version && version.endsWith('Not'), text: '不等于' })),
            el('input', { name: 'versionValue', 'aria-label': '版本号', placeholder: '不限', value: version ? String(filter[version]) : '' }))),
        field('在线', el('select', { name: 'online' }, el('option', { value: '', text: '不限' }),
            Object.entries(FILTER_CHOICES.online).map(([k, name]) => el('option', { value: k, selected: String(filter.online) === k, text: name })))),
        Object.keys(extra).length ? el('p', { class: 'hint', text: `另含原计划的条件：${describeFilter(extra)}` }) : null);
    box.extra = extra;
    return box;
}

function readFilter(box) {
    const get = (name) => box.querySelector(`[name=${name}]`).value.trim();
    const filter = { ...box.extra };
    if (get('q')) filter.q = get('q');
    if (get('versionValue')) filter[`${get('versionColumn')}${get('versionOp')}`] = get('versionValue');
    if (get('online')) filter.online = get('online');
    return filter;
}

// An editor; set(plan) fills it from a stored plan (or the template), read() gives
// { body } or { problem } with the offending input focused.
export function createPlanEditor(prefix) {
    const list = el('ol', { class: 'plan-stages', id: `${prefix}-stages` });
    const add = el('button', { type: 'button', class: 'btn btn-small', id: `${prefix}-add`, text: '添加阶段' });
    const failures = el('input', { name: 'pauseAtFailures', type: 'number', min: '0', step: '1', id: `${prefix}-failures` });
    const share = el('input', { name: 'pauseAtFailurePercent', type: 'number', min: '0', max: '100', step: '1', id: `${prefix}-failure-percent`, placeholder: '不限' });
    const node = el('div', { class: 'plan-editor', id: prefix },
        el('p', { class: 'hint', text: '阶段是累计的：开放第 3 阶段时，第 1 到第 3 阶段的终端都可获得升级包。比例按此型号的全部终端计，须逐阶段增大；筛选条件在设置计划时取定终端。' }),
        list,
        el('div', { class: 'plan-editor-foot' }, add,
            el('div', { class: 'plan-thresholds', role: 'group', 'aria-label': '暂停条件' },
                el('span', { class: 'plan-thresholds-label', text: '暂停条件：当前阶段' }),
                field('失败达到（台）', failures), el('span', { class: 'muted', text: '或' }), field('失败比例达到（%）', share))));

    function renumber() {
        [...list.children].forEach((item, i) => {
            const n = i + 1;
            item.dataset.stage = String(n);
            item.querySelector('.plan-stage-title').textContent = `第 ${n} 阶段`;
            item.querySelector('[data-move="-1"]').setAttribute('aria-label', `第 ${n} 阶段上移`);
            item.querySelector('[data-move="1"]').setAttribute('aria-label', `第 ${n} 阶段下移`);
            item.querySelector('[data-remove]').setAttribute('aria-label', `删除第 ${n} 阶段`);
            item.querySelector('[data-move="-1"]').disabled = n === 1;
            item.querySelector('[data-move="1"]').disabled = n === list.children.length;
            item.querySelector('[data-remove]').disabled = list.children.length === 1;
        });
        add.disabled = list.children.length >= MAX_STAGES;
    }

    function showKind(item) {
        const kind = item.querySelector('[name=kind]').value;
        for (const part of item.querySelectorAll('[data-for]')) part.hidden = part.dataset.for !== kind;
    }

    function stageItem(stage = {}) {
        const kind = stage.kind || ('serials' in stage ? 'serials' : 'filter' in stage ? 'filter' : 'percent');
        const fromStore = stage.kind === 'serials' && !stage.serials;
        const item = el('li', { class: 'plan-stage' },
            el('div', { class: 'plan-stage-head' }, el('b', { class: 'plan-stage-title' }),
                el('span', { class: 'plan-stage-tools' },
                    el('button', { type: 'button', class: 'btn btn-small', dataset: { move: '-1' }, text: '上移' }),
                    el('button', { type: 'button', class: 'btn btn-small', dataset: { move: '1' }, text: '下移' }),
                    el('button', { type: 'button', class: 'btn btn-small btn-danger-ghost', dataset: { remove: '' }, text: '删除' }))),
            el('div', { class: 'plan-stage-fields' },
                field('范围', el('select', { name: 'kind' }, KINDS.map(([k, name]) => el('option', { value: k, selected: k === kind, text: name })))),
                field('累计比例（%）', el('input', { name: 'percent', type: 'number', min: '0.01', max: '100', step: '0.01', value: stage.percent ?? '' }), { dataset: { for: 'percent' } }),
                field('序列号（换行、逗号或空格分隔）', el('textarea', {
                    name: 'serials', rows: '2',
                    placeholder: fromStore ? `原计划列出 ${stage.listed} 台：请重新填写序列号` : '例如 SN0001, SN0002',
                }, (stage.serials || []).join('\n')), { class: 'field field-wide', dataset: { for: 'serials' } }),
                filterFields(stage.filter || {}),
                field('最短时间（分钟）', el('input', { name: 'minMinutes', type: 'number', min: '0', step: 'any', placeholder: '0', value: stage.minMinutes || '' })),
                field('成功比例（%）', el('input', { name: 'successPercent', type: 'number', min: '0', max: '100', step: '1', placeholder: '100', value: stage.successPercent ?? '' }))));
        showKind(item);
        return item;
    }

    list.addEventListener('change', (event) => {
        if (event.target.name === 'kind') showKind(event.target.closest('.plan-stage'));
    });
    list.addEventListener('click', (event) => {
        const button = event.target.closest('button');
        if (!button) return;
        const item = button.closest('.plan-stage');
        if (button.dataset.remove !== undefined) {
            const next = item.nextElementSibling || item.previousElementSibling;
            item.remove();
            renumber();
            next.querySelector('[name=kind]').focus();
            return;
        }
        const step = Number(button.dataset.move);
        if (step < 0 && item.previousElementSibling) list.insertBefore(item, item.previousElementSibling);
        if (step > 0 && item.nextElementSibling) list.insertBefore(item.nextElementSibling, item);
        renumber();
        // Moving the stage took the focus with it; a disabled end button hands it to the other.
        (button.disabled ? item.querySelector(`[data-move="${-step}"]`) : button).focus();
    });
    add.addEventListener('click', () => {
        const last = list.lastElementChild;
        list.append(stageItem());
        renumber();
        list.lastElementChild.querySelector('[name=kind]').focus();
        if (last) last.scrollIntoView({ block: 'nearest' });
    });

    function set(plan = TEMPLATE) {
        list.replaceChildren(...plan.stages.map(stageItem));
        failures.value = plan.pauseAtFailures || '';
        share.value = plan.pauseAtFailurePercent || '';
        renumber();
    }

    function body() {
        const stages = [...list.children].map((item) => {
            const kind = item.querySelector('[name=kind]').value;
            const stage = {};
            if (kind === 'percent') stage.percent = numberOf(item.querySelector('[name=percent]')) ?? NaN;
            else if (kind === 'serials') stage.serials = splitSerials(item.querySelector('[name=serials]').value);
            else stage.filter = readFilter(item.querySelector('[data-for=filter]'));
            const minutes = numberOf(item.querySelector('[name=minMinutes]'));
            const success = numberOf(item.querySelector('[name=successPercent]'));
            if (minutes !== undefined) stage.minMinutes = minutes;
            if (success !== undefined) stage.successPercent = success;
            return stage;
        });
        const plan = { stages };
        if (numberOf(failures) !== undefined) plan.pauseAtFailures = numberOf(failures);
        if (numberOf(share) !== undefined) plan.pauseAtFailurePercent = numberOf(share);
        return plan;
    }

    function read() {
        for (const bad of node.querySelectorAll('[aria-invalid]')) bad.removeAttribute('aria-invalid');
        const plan = body();
        const problem = checkPlan(plan);
        if (!problem) return { body: plan };
        const scope = problem.stage ? list.children[problem.stage - 1] : node;
        const input = problem.field === 'add' ? add : scope.querySelector(`[name=${problem.field}]`);
        if (input) {
            if (input !== add) input.setAttribute('aria-invalid', 'true');
            input.focus();
        }
        return { problem: problem.message };
    }

    set();
    return { node, set, read };
}
