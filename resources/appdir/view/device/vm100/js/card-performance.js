// The performance tab: the DPI stages with the active one, and the report rate.

import { checkDpi, intervalFromRate } from './dpi.js';
import { REPORT_RATES } from './model.js';
import { el } from './page.js';
import { text } from './status.js';

export function startPerformanceCard(page, { reread }) {
    const { state, $, t, report, cardState, change, partError, partOk } = page;

    function renderDpi() {
        const rows = $('dpi-rows');
        const dpi = state.settings.dpi;
        const active = state.settings.dpiStage;
        if (dpi instanceof Error) return partError('card-dpi', dpi, () => reread(['dpi', 'dpiStage']));
        if (active instanceof Error) return partError('card-dpi', active, () => reread(['dpi', 'dpiStage']));
        if (!dpi) return rows.replaceChildren(el('tr', {}, el('td', { colspan: '5', class: 'muted', text: t('state.reading') })));
        partOk('card-dpi');
        rows.replaceChildren(...dpi.map((stage, index) => {
            const input = (axis) => el('input', { type: 'number', min: '100', max: '16000', step: '50', id: `dpi-${axis}-${index}`,
                value: String(axis === 'y' && stage.link ? stage.x : stage[axis]), disabled: axis === 'y' && stage.link,
                onchange: (event) => writeDpi(index, axis, event.target),
                onkeydown: (event) => { if (event.key === 'Enter') event.target.blur(); } });
            return el('tr', { class: index === active ? 'active' : '' },
                el('td', {}, el('input', { type: 'radio', name: 'dpi-active', id: `dpi-active-${index}`, checked: index === active,
                    onchange: () => writeActiveStage(index) })),
                el('td', {}, el('label', { for: `dpi-active-${index}`, text: t('dpi.stageN', { n: index + 1 }) })),
                el('td', {}, input('x')),
                el('td', {}, input('y')),
                el('td', {}, el('input', { type: 'checkbox', id: `dpi-link-${index}`, checked: stage.link,
                    onchange: (event) => writeDpiLink(index, event.target.checked) })));
        }));
    }

    async function writeStage(index, stage) {
        const ok = await change('card-dpi', () => state.api.writeDpiStage(index, stage), 'status.dpiSet',
            { n: index + 1, x: stage.x, y: stage.link ? stage.x : stage.y });
        if (ok) state.settings.dpi[index] = { ...stage, y: stage.link ? stage.x : stage.y };
        renderDpi();
    }

    function writeDpi(index, axis, input) {
        const checked = checkDpi(input.value);
        if (!checked.ok) {
            input.classList.add('invalid');
            cardState('card-dpi', 'state.invalid', {}, 'error');
            report('card-dpi', text('status.notApplied', { error: text(checked.error) }), 'error');
            return;
        }
        input.classList.remove('invalid');
        const stage = { ...state.settings.dpi[index], [axis]: checked.value };
        writeStage(index, stage);
    }

    function writeDpiLink(index, link) {
        writeStage(index, { ...state.settings.dpi[index], link });
    }

    async function writeActiveStage(index) {
        const ok = await change('card-dpi', () => state.api.writeDpiActive(index), 'status.stageSet', { n: index + 1 });
        if (ok) state.settings.dpiStage = index;
        renderDpi();
    }

    function renderRate() {
        const interval = state.settings.reportInterval;
        if (interval instanceof Error) return partError('card-rate', interval, () => reread(['reportInterval']));
        partOk('card-rate');
        $('rate-options').replaceChildren(...REPORT_RATES.map((rate) => el('button', {
            class: rate.interval === interval ? 'selected' : '', 'data-hz': String(rate.hz), role: 'radio',
            'aria-checked': String(rate.interval === interval), disabled: interval === undefined,
            text: `${rate.hz} Hz`, onclick: () => writeRate(rate.hz),
        })));
    }

    async function writeRate(hz) {
        const interval = intervalFromRate(hz);
        const ok = await change('card-rate', () => state.api.writeReportInterval(interval), 'status.rateSet', { hz });
        if (ok) state.settings.reportInterval = interval;
        renderRate();
    }

    return {
        render() {
            renderDpi();
            renderRate();
        },
    };
}
