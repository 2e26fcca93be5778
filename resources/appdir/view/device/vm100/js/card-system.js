// The system mouse tab: the operating system's pointer, scroll and double-click settings,
// which hold for every mouse.

import { accelerationFromReport, accelerationLevel, doubleClickLevelFromReport, doubleClickMs,
    parseMouseReport, SCROLL_LINES, speedLevelFromReport } from './mousecfg.js';
import { fillSelect } from './page.js';

const SYSTEM_FIELDS = ['sys-speed', 'sys-accel', 'sys-scroll', 'sys-scroll-x', 'sys-double'];
// Kept while the program runs: the page's view keeps its session storage across page loads.
const SPEED_KEY = 'velmora.speedLevel';

function rememberedSpeed() {
    try {
        const text = window.sessionStorage.getItem(SPEED_KEY);
        return text === null ? null : Number(text);
    } catch {
        return null;
    }
}

function rememberSpeed(level) {
    try {
        window.sessionStorage.setItem(SPEED_KEY, String(level));
    } catch {
        // Without storage the report's level is shown.
    }
}

function range(from, to) {
    return Array.from({ length: to - from + 1 }, (_, i) => from + i);
}

export function startSystemCard(page) {
    const { bridge, state, $, t, cardState, change, partError, partOk } = page;
    let mouseReport = null;

    async function loadSystemSettings() {
        for (const id of SYSTEM_FIELDS) $(id).disabled = true;
        cardState('card-system', 'state.reading', {}, 'busy');
        try {
            const text = await bridge.call('getWindowsMouseConfig', state.api.ids);
            mouseReport = parseMouseReport(text);
            partOk('card-system');
            renderSystemSettings();
        } catch (error) {
            partError('card-system', error, loadSystemSettings);
        }
    }

    function renderSystemSettings() {
        const report = mouseReport;
        if (!report) return;
        const level = speedLevelFromReport(report.speed, rememberedSpeed());
        $('sys-speed').value = String(level ?? 4);
        $('sys-speed-value').textContent = level === null ? '?' : String(level + 1);
        $('sys-accel').value = accelerationFromReport(report.acceleration);
        fillSelect($('sys-scroll'), range(SCROLL_LINES.min, Math.max(SCROLL_LINES.max, report.scrollLines ?? 0))
            .map((n) => [String(n), String(n)]), String(report.scrollLines));
        fillSelect($('sys-scroll-x'), range(SCROLL_LINES.min, Math.max(SCROLL_LINES.max, report.scrollChars ?? 0))
            .map((n) => [String(n), String(n)]), String(report.scrollChars));
        const double = doubleClickLevelFromReport(report.doubleClick);
        $('sys-double').value = String(double ?? 5);
        $('sys-double-value').textContent = t('unit.ms', { n: doubleClickMs(double ?? 5) });
        for (const id of SYSTEM_FIELDS) $(id).disabled = false;
    }

    async function writeSystem(funcname, num, okKey, okParams) {
        const ok = await change('card-system', () => bridge.call(funcname, { num }), okKey, okParams);
        if (ok && funcname === 'modifyMouseSpeed') rememberSpeed(num);
        if (!ok) await loadSystemSettings();
    }

    $('sys-speed').addEventListener('input', () => { $('sys-speed-value').textContent = String(Number($('sys-speed').value) + 1); });
    $('sys-speed').addEventListener('change', () => writeSystem('modifyMouseSpeed', Number($('sys-speed').value), 'status.speedSet',
        { n: Number($('sys-speed').value) + 1 }));
    $('sys-accel').addEventListener('change', () => writeSystem('modifyMouseAcce', accelerationLevel($('sys-accel').value),
        'status.accelSet', { name: t(`accel.${$('sys-accel').value}`) }));
    $('sys-scroll').addEventListener('change', () => writeSystem('modifyMouseScrollLines', Number($('sys-scroll').value),
        'status.scrollSet', { n: $('sys-scroll').value }));
    $('sys-scroll-x').addEventListener('change', () => writeSystem('modifyMouseScrollLinesX', Number($('sys-scroll-x').value),
        'status.scrollXSet', { n: $('sys-scroll-x').value }));
    $('sys-double').addEventListener('input', () => { $('sys-double-value').textContent = t('unit.ms', { n: doubleClickMs(Number($('sys-double').value)) }); });
    $('sys-double').addEventListener('change', () => writeSystem('modifyMouseDoubleClick', Number($('sys-double').value),
        'status.doubleSet', { ms: doubleClickMs(Number($('sys-double').value)) }));
    $('sys-reload').addEventListener('click', () => state.api && loadSystemSettings());

    return { load: loadSystemSettings, render: renderSystemSettings };
}
