// The rollout view's plan: each stage's progress against its thresholds, the pause with its
// cause, a cancelled or finished rollout said plainly; pause, resume, advance and cancel behind
// confirmations that say what follows; the maintenance windows and start time changed in place;
// the plan set or replaced in a dialog.
import { v2 } from './api.js';
import { formatAgo, formatEpoch, serverNowMs } from './clock.js';
import { PLAN_STATES } from './names.js';
import { createPlanEditor, stageScope } from './planeditor.js';
import { refreshRollout, registerRolloutSection } from './rollout.js';
import { allows } from './session.js';
import { confirmAction, el, formatClock, setMessage } from './ui.js';

// The plan last shown, for the actions; and the outcome of the last action, kept across redraws.
const shown = { id: null, plan: null, packageName: '', note: null };
let editor = null;
const $ = (id) => document.getElementById(id);

const planState = (plan) => (plan.state === 'running' && plan.openStages >= plan.stages.length ? 'completed' : plan.state);
const withAgo = (seconds) => `${formatEpoch(seconds)}（${formatAgo(seconds)}）`;

function minutesText(minutes) {
    if (!minutes) return '无';
    if (minutes < 60) return `${Number(minutes.toFixed(2))} 分钟`;
    const hours = Math.floor(minutes / 60);
    const rest = Math.round(minutes - hours * 60);
    return rest ? `${hours} 小时 ${rest} 分钟` : `${hours} 小时`;
}

function thresholdText(plan) {
    const parts = [];
    if (plan.pauseAtFailures) parts.push(`失败达到 ${plan.pauseAtFailures} 台`);
    if (plan.pauseAtFailurePercent) parts.push(`失败比例达到 ${plan.pauseAtFailurePercent}%`);
    const accepted = plan.failuresAccepted ? `（恢复时已接受的 ${plan.failuresAccepted} 台失败不计）` : '';
    return `暂停条件：当前阶段${parts.join('或')}${accepted}`;
}

function successCell(stage) {
    const target = `需 ${stage.successPercent}%`;
    if (!stage.attempted) return el('span', { class: 'muted', text: `— / ${target}` });
    const share = Math.floor((stage.succeeded * 100) / stage.attempted);
    const met = share >= stage.successPercent;
    return el('span', { class: `share ${met ? 'share-met' : ''}`, title: `成功 ${stage.succeeded} / 已尝试 ${stage.attempted}` },
        el('span', { class: 'share-bar', 'aria-hidden': 'true' },
            el('span', { class: 'share-fill', style: `width:${share}%` }), el('span', { class: 'share-mark', style: `left:${stage.successPercent}%` })),
        el('b', { text: `${share}%` }), ` / ${target}`);
}

function openedCell(stage, plan) {
    if (!stage.openedAt) return el('span', { class: 'muted', text: '未开放' });
    const waitSeconds = stage.openedAt + stage.minMinutes * 60 - serverNowMs() / 1000;
    const current = stage.position === plan.openStages && plan.state !== 'cancelled' && plan.openStages < plan.stages.length;
    return el('span', { title: formatAgo(stage.openedAt) }, el('span', { class: 'nowrap', text: formatEpoch(stage.openedAt) }),
        current && waitSeconds > 0 ? el('span', { class: 'muted block', text: `最短时间还剩 ${minutesText(Math.ceil(waitSeconds / 60))}` }) : null);
}

function stageRow(stage, plan) {
    const current = stage.position === plan.openStages;
    const mark = !stage.open ? ['closed', '未开放'] : current ? ['current', '当前'] : ['open', '已开放'];
    const count = (key, cls = '') => el('td', { class: `num ${cls}`, 'data-col': key, text: String(stage[key]) });
    return el('tr', { dataset: { stage: String(stage.position) }, class: `stage-${mark[0]}` },
        el('td', { class: 'nowrap' }, el('b', { text: `第 ${stage.position} 阶段` }), ' ', el('span', { class: `pill pill-stage-${mark[0]}`, text: mark[1] })),
        el('td', { class: 'wrap', 'data-col': 'scope', text: stageScope(stage) }),
        count('members'), count('attempted'), count('succeeded'), count('failed', stage.failed ? 'error-text' : ''), count('inProgress'), count('waiting'),
        el('td', { class: 'nowrap', 'data-col': 'share' }, successCell(stage)),
        el('td', { class: 'nowrap', text: minutesText(stage.minMinutes) }),
        el('td', { 'data-col': 'opened' }, openedCell(stage, plan)));
}

function banner(plan, key) {
    if (key === 'paused') {
        return el('div', { class: 'banner banner-warn', id: 'plan-banner', dataset: { state: key } },
            el('strong', { text: '发布已暂停' }),
            el('p', { id: 'plan-pause-reason', text: plan.pause.reason || '没有记录原因' }),
            el('p', { class: 'muted', id: 'plan-pause-time', text: `暂停于 ${withAgo(plan.pause.at)}。不再向新的终端提供升级包；正在进行的下载会继续，强制升级的终端仍会升级。` }));
    }
    if (key === 'cancelled') {
        return el('div', { class: 'banner banner-danger', id: 'plan-banner', dataset: { state: key } },
            el('strong', { text: '发布已取消' }),
            el('p', { class: 'muted', text: `取消于 ${withAgo(plan.changedAt)}。不再向新的终端提供此升级包，只有强制升级的终端仍会升级。重新设置发布计划可从第 1 阶段再次开始。` }));
    }
    if (key === 'completed') {
        return el('div', { class: 'banner banner-ok', id: 'plan-banner', dataset: { state: key } },
            el('strong', { text: '全部阶段已开放' }),
            el('p', { class: 'muted', text: plan.outside ? `计划内的终端都可获得升级包；不在任何阶段中的 ${plan.outside} 台终端不会获得。` : '此型号的终端都可获得升级包。' }));
    }
    return null;
}

function actions(plan) {
    if (!allows('operator')) return null;
    const key = plan ? planState(plan) : null;
    const buttons = [];
    if (key === 'paused') buttons.push(el('button', { class: 'btn btn-primary btn-small', type: 'button', id: 'plan-resume', text: '恢复发布', onclick: () => act('resume') }));
    if (plan && plan.state === 'running') buttons.push(el('button', { class: 'btn btn-small', type: 'button', id: 'plan-pause', text: '暂停发布', onclick: () => act('pause') }));
    if (plan && key !== 'cancelled') buttons.push(el('button', { class: 'btn btn-small', type: 'button', id: 'plan-schedule', text: '设置发布时段', onclick: editSchedule }));
    if (plan && key !== 'cancelled' && plan.openStages < plan.stages.length) {
        buttons.push(el('button', { class: 'btn btn-small', type: 'button', id: 'plan-advance', text: `立即开放第 ${plan.openStages + 1} 阶段`, onclick: () => act('advance') }));
    }
    buttons.push(el('button', { class: 'btn btn-small', type: 'button', id: 'plan-replace', text: plan ? '替换发布计划' : '设置发布计划', onclick: openEditor }));
    if (plan && key !== 'cancelled') buttons.push(el('button', { class: 'btn btn-small btn-danger-ghost', type: 'button', id: 'plan-cancel', text: '取消发布', onclick: () => act('cancel') }));
    return el('div', { class: 'section-actions', 'data-min-role': 'operator' }, buttons);
}

function note() {
    const box = el('div', { class: 'message', id: 'plan-message', hidden: true });
    if (shown.note) setMessage(box, shown.note.kind, shown.note.text);
    return box;
}

function renderPlan(ctx) {
    const plan = ctx.plan;
    if (!plan) {
        return el('div', { id: 'rollout-plan' },
            el('p', { class: 'muted', id: 'plan-none', text: '此升级包没有发布计划：此型号的终端只要有较旧的组件，下次上报时就会获得它。' }),
            actions(null), note());
    }
    const key = planState(plan);
    const createdBy = plan.createdBy ? `，由 ${plan.createdBy}` : '';
    return el('div', { id: 'rollout-plan' },
        el('div', { class: 'plan-summary' },
            el('span', { class: `pill pill-plan-${key}`, id: 'plan-state', dataset: { state: key }, text: PLAN_STATES[key] || key }),
            el('span', { text: `已开放 ${plan.openStages} / ${plan.stages.length} 个阶段` }),
            el('span', { id: 'plan-thresholds', text: thresholdText(plan) }),
            scheduleLine(plan),
            plan.outside ? el('span', { class: 'muted', text: `不在任何阶段中：${plan.outside} 台` }) : null,
            el('span', { class: 'muted', text: `设置于 ${formatEpoch(plan.createdAt)}${createdBy}` })),
        banner(plan, key),
        el('div', { class: 'table-wrap' }, el('table', { class: 'data-table plan-table', id: 'plan-stages' },
            el('thead', {}, el('tr', {}, ['阶段', '范围', '终端', '已尝试', '成功', '失败', '进行中', '等待', '成功比例', '最短时间', '开放时间']
                .map((t, i) => el('th', { class: i >= 2 && i <= 7 ? 'num' : undefined, text: t })))),
            el('tbody', {}, plan.stages.map((stage) => stageRow(stage, plan))))),
        actions(plan), note());
}

registerRolloutSection({
    id: 'plan',
    title: '分阶段发布',
    load: async (ctx) => {
        try {
            ctx.plan = await v2.plan(ctx.id);
        } catch (err) {
            if (err.kind !== 'http' || err.status !== 404) throw err;
            ctx.plan = null;
        }
    },
    render: (ctx) => {
        if (shown.id !== ctx.id) shown.note = null;
        Object.assign(shown, { id: ctx.id, plan: ctx.plan, packageName: ctx.counts.package.packageName });
        return renderPlan(ctx);
    },
}, { before: 'counts' });

const range = (n) => (n > 1 ? `第 1 到第 ${n} 阶段` : '第 1 阶段');

// What each action does, said before it is done.
const ACTIONS = {
    pause: (plan) => ({
        title: '暂停发布',
        body: `暂停后不再向新的终端提供升级包 “${shown.packageName}”；正在进行的下载会继续，强制升级的终端仍会升级。已开放的 ${plan.openStages} 个阶段保持不变，恢复后从这里继续。`,
        confirmText: '暂停发布',
        done: '发布已暂停。',
    }),
    resume: (plan) => {
        const stage = plan.stages[plan.openStages - 1];
        return {
            title: '恢复发布',
            body: `第 ${plan.openStages} 阶段至今的 ${stage.failed} 台失败将被接受，只有此后新的失败才会再次暂停发布。${range(plan.openStages)}中尚未升级的终端下次上报时将获得升级包。`,
            confirmText: '恢复发布',
            done: '发布已恢复。',
        };
    },
    advance: (plan) => {
        const n = plan.openStages;
        const next = plan.stages[n];
        return {
            title: `立即开放第 ${n + 1} 阶段`,
            body: `不再等待第 ${n} 阶段的最短时间和成功比例：第 ${n + 1} 阶段的 ${next.members} 台终端（${stageScope(next)}）下次上报时将获得升级包。`
                + (plan.state === 'paused' ? '发布目前处于暂停状态：恢复之前，不会向新的终端提供升级包。' : ''),
            confirmText: `开放第 ${n + 1} 阶段`,
            done: `第 ${n + 1} 阶段已开放。`,
        };
    },
    cancel: () => ({
        title: '取消发布',
        body: `此后不再向新的终端提供升级包 “${shown.packageName}”；标记了强制升级的终端仍会升级，正在进行的下载会继续。取消的发布不能恢复，只能重新设置发布计划，从第 1 阶段开始。`,
        confirmText: '取消发布',
        danger: true,
        done: '发布已取消。',
    }),
};

async function act(action) {
    const { id, plan } = shown;
    const said = ACTIONS[action](plan);
    if (!(await confirmAction(said))) return;
    try {
        await v2.planAction(id, action);
        shown.note = { kind: 'success', text: `${said.done}（${formatClock()}）` };
    } catch (err) {
        // A 409 says what stood in the way (the rollout changed since it was shown).
        shown.note = { kind: 'error', text: `${said.title}失败：${err.message}` };
    }
    refreshRollout();
}

function scheduleLine(plan) {
    const windows = plan.windows && plan.windows.length ? `维护时段 ${plan.windows.join('、')}` : '全天';
    const start = plan.startAt ? `，${formatEpoch(plan.startAt)} 起` : '';
    return el('span', { id: 'plan-schedule-text', class: plan.inWindow ? '' : 'warn-text', dataset: { inWindow: String(!!plan.inWindow) },
        text: `发布时段：${windows}${start}${plan.inWindow ? '' : '（当前不在发布时段内，不向新的终端提供升级包）'}` });
}

// A local date and time as the input shows it, and back to seconds since the epoch.
const inputTime = (seconds) => {
    if (!seconds) return '';
    const d = new Date(seconds * 1000);
    return new Date(d.getTime() - d.getTimezoneOffset() * 60000).toISOString().slice(0, 16);
};

async function editSchedule() {
    const { id, plan } = shown;
    const windows = el('input', { id: 'schedule-windows', value: (plan.windows || []).join(', '), placeholder: '例如 01:00-05:00, 22:00-02:00；留空表示全天' });
    const start = el('input', { id: 'schedule-start', type: 'datetime-local', value: inputTime(plan.startAt) });
    const ok = await confirmAction({
        title: '设置发布时段',
        body: '只在这些时段内（服务所在时区，可跨午夜）并且在开始时间之后向新的终端提供升级包；正在进行的下载不受影响，强制升级的终端仍会升级。发布不会重新开始。',
        confirmText: '保存发布时段',
        content: [el('label', { class: 'field' }, el('span', { text: '维护时段' }), windows), el('label', { class: 'field' }, el('span', { text: '开始时间（可留空）' }), start)],
        focus: windows,
    });
    if (!ok) return;
    const body = {
        windows: windows.value.split(/[,，\s]+/).filter(Boolean),
        startAt: start.value ? Math.floor(new Date(start.value).getTime() / 1000) : 0,
    };
    try {
        await v2.setSchedule(id, body);
        shown.note = { kind: 'success', text: `发布时段已保存（${formatClock()}）。` };
    } catch (err) {
        shown.note = { kind: 'error', text: `设置发布时段失败：${err.message}` };
    }
    refreshRollout();
}

function openEditor() {
    const dialog = $('plan-dialog');
    const { plan } = shown;
    $('plan-dialog-title').textContent = plan ? '替换发布计划' : '设置发布计划';
    $('plan-dialog-body').textContent = plan
        ? `升级包 “${shown.packageName}” 的新计划取代原计划，并从第 1 阶段重新开始。列出序列号的阶段须重新填写序列号。`
        : `升级包 “${shown.packageName}” 将按计划分阶段发布，从第 1 阶段开始。`;
    editor.set(plan || undefined);
    setMessage($('plan-dialog-message'), '', '');
    dialog.showModal();
    dialog.querySelector('[name=kind]').focus();
}

// Each stage as the service would fill it from the type's terminals, for the confirmation.
async function previewList(id, body) {
    const p = await v2.planPreview(id, body);
    return el('ul', { id: 'plan-preview' },
        p.stages.map((s) => el('li', { text: `第 ${s.position} 阶段：${s.members} 台（在线 ${s.online}、离线 ${s.offline}），待升级 ${s.wouldBeOffered} 台，已是此版本 ${s.alreadyOnVersion} 台` })),
        p.outside.members ? el('li', { text: `不属于任何阶段：${p.outside.members} 台` }) : null);
}

async function save(event) {
    event.preventDefault();
    const message = $('plan-dialog-message');
    const read = editor.read();
    if (read.problem) {
        setMessage(message, 'error', read.problem);
        return;
    }
    let content;
    try {
        content = await previewList(shown.id, read.body);
    } catch (err) {
        setMessage(message, 'error', `服务未接受此计划：${err.message}`);
        return;
    }
    const replacing = !!shown.plan;
    const ok = await confirmAction({
        content,
        title: replacing ? '替换发布计划并从第 1 阶段重新开始' : '设置发布计划',
        body: replacing
            ? '发布将从第 1 阶段重新开始：只有第 1 阶段的终端可获得升级包，原计划已开放的其他阶段将关闭，失败计数清零；已升级的终端不受影响。'
            : '设置后只有第 1 阶段的终端可获得升级包，其余终端等待各自的阶段开放；正在进行的下载会继续。',
        confirmText: replacing ? '替换并重新开始' : '设置计划',
    });
    if (!ok) return;
    const button = $('plan-dialog-save');
    button.disabled = true;
    try {
        // A replaced plan keeps the windows and start time set on the one it replaces.
        const when = replacing ? { windows: shown.plan.windows || [], startAt: shown.plan.startAt || 0 } : {};
        await v2.setPlan(shown.id, { ...read.body, ...when });
        $('plan-dialog').close();
        shown.note = { kind: 'success', text: `发布计划已${replacing ? '替换' : '设置'}，第 1 阶段已开放（${formatClock()}）。` };
        refreshRollout();
    } catch (err) {
        // The service's own words, e.g. a filter that takes no terminal of the type.
        setMessage(message, 'error', `服务未接受此计划：${err.message}`);
    } finally {
        button.disabled = false;
    }
}

export function initRolloutPlan() {
    editor = createPlanEditor('plan-edit');
    $('plan-dialog-editor').replaceChildren(editor.node);
    $('plan-form').addEventListener('submit', save);
    $('plan-dialog-cancel').addEventListener('click', () => $('plan-dialog').close());
}
