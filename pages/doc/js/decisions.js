// Upgrade decisions: the rollout view counts the type's terminals by the reason of their last
// decision; the device drawer shows one terminal's last decision with its detail, and below it
// the last report refused for another device ID, which leaves that decision alone.
import { formatAgo, formatEpoch } from './clock.js';
import { facts, registerDeviceSection } from './drawer.js';
import { DECISION_REASONS, RETIRED_REASONS, reasonName } from './names.js';
import { registerRolloutSection } from './rollout.js';
import { el } from './ui.js';

const OFFERED = new Set(['forced', 'newer_component']);

registerRolloutSection({
    id: 'reasons',
    title: '最近一次上报的判定',
    render: ({ counts }) => {
        const reasons = counts.reasons || {};
        const total = Object.values(reasons).reduce((a, b) => a + b, 0);
        // The service's codes in its order; one it names that the page does not know still shows.
        const codes = [...DECISION_REASONS.map(([code]) => code), ...Object.keys(reasons).filter((c) => !DECISION_REASONS.some(([k]) => k === c))]
            .filter((code) => reasons[code] || !RETIRED_REASONS.has(code));
        return el('div', {},
            el('p', { class: 'muted' }, `型号 ${counts.package.deviceType} 的终端中，`, el('b', { id: 'reasons-total', text: String(total) }),
                ' 台有判定记录：每台按它最近一次上报时是否获得升级包及其原因计数。'),
            el('p', { class: 'muted', id: 'reasons-meaning', text: `判定在终端上报时做出，不是对当前升级包的预判：升级包上传（${formatEpoch(counts.package.uploadTime)}）之后还没有上报过的终端，计数的仍是它上次上报时对之前升级包（或没有升级包时）的判定。` }),
            el('div', { class: 'reason-grid', id: 'rollout-reasons' }, codes.map((code) => {
                const hint = (DECISION_REASONS.find(([c]) => c === code) || [])[2];
                return el('div', { class: `stat reason ${OFFERED.has(code) ? 'reason-offered' : ''} ${reasons[code] ? '' : 'reason-none'}`, dataset: { reason: code }, title: hint },
                    el('span', { class: 'stat-value', text: String(reasons[code] || 0) }),
                    el('span', { class: 'stat-label', text: reasonName(code) }));
            })));
    },
}, { before: 'live' });

const conflictText = (devId, from) => `上报的设备ID “${devId}” 与已绑定的不同（来自 ${from}）`;

// Older rows state a refused identity in the log's words; said here in the operator's.
function detailLines(decision) {
    const conflict = /^device ID (.*) from (.*)$/.exec(decision.detail);
    if (decision.reason === 'identity_conflict' && conflict) return [conflictText(conflict[1], conflict[2])];
    return decision.detail.split('\n').filter(Boolean);
}

const conflictLine = (conflict) => conflict && facts([
    ['设备ID冲突', conflictText(conflict.devId, `${conflict.address}，${formatEpoch(conflict.at)}`), { id: 'drawer-identity-conflict' }],
]);

registerDeviceSection({
    id: 'decision',
    title: '最近一次升级判定',
    render: ({ decision, identityConflict }) => el('div', {}, renderDecision(decision), conflictLine(identityConflict)),
}, { before: 'pending' });

function renderDecision(decision) {
    if (!decision) return el('p', { class: 'muted', id: 'drawer-decision-none', text: '还没有判定记录：终端尚未上报。' });
    const lines = detailLines(decision);
    return facts([
        ['结果', el('span', { class: `pill ${decision.offered ? 'pill-ok' : 'pill-warn'}`, id: 'drawer-decision-offered', text: decision.offered ? '已提供升级包' : '未提供升级包' })],
        ['原因', el('span', { id: 'drawer-decision-reason', dataset: { reason: decision.reason }, title: (DECISION_REASONS.find(([c]) => c === decision.reason) || [])[2], text: reasonName(decision.reason) })],
        ['说明', lines.length ? el('div', { id: 'drawer-decision-detail' }, lines.map((line) => el('div', { text: line }))) : ''],
        ['升级包', decision.packageId ? decision.packageName : decision.reason === 'no_package' ? `型号 ${decision.devType} 没有升级包` : '', { id: 'drawer-decision-package' }],
        ['判定时间', `${formatEpoch(decision.decidedAt)}（${formatAgo(decision.decidedAt)}）`],
    ]);
}
