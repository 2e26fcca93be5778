// The VM100 settings page: reads every setting from the mouse when it opens, writes each change
// at once and says whether it took, and keeps working when a command gives no answer.

import { createBridge } from '../../../../template/default/js/bridge.js';
import { CONF_FILE, createDeviceWatcher, listDevices, parseProductInfo, productInfoXPath } from '../../../../template/default/js/devices.js';
import { applyTexts, createLanguageStore, createTranslator, isLanguage, pickLanguage } from '../../../../template/default/js/i18n.js';
import { hookTitleBar } from '../../../../template/default/js/titlebar.js';
import { checkAssignment, CLICK_CODES, keepsLeftClick, orderCombination, slotsInUse } from './buttons.js';
import { createDevice } from './device.js';
import { checkDpi, intervalFromRate } from './dpi.js';
import { keyNameForCode, MOUSE_BUTTON_NAMES, parseCombination, parseKeyTable } from './keys.js';
import { buildKeyMap, parseKeyMap } from './keymap.js';
import { checkMacro, createRecorder, deviceItemCount, freeName, playActionText, sameActions } from './macro.js';
import { accelerationFromReport, accelerationLevel, doubleClickLevelFromReport, doubleClickMs,
    parseMouseReport, SCROLL_LINES, speedLevelFromReport } from './mousecfg.js';
import { BUTTONS, buttonById, inputHardwareId, KEY_DEFINITION_PATH, KEY_MAP_FILE, LIFT_OFF_MM,
    MACRO_LIBRARY, MACRO_SLOT_ITEMS, MODEL, MOUSE, PROFILE_INDEX, REPORT_RATES } from './model.js';
import { appFolderFromPageUrl, macroLibraryXml, newProfileFile, parseMacroLibrary, parseProfile, parseProfileIndex,
    pathInsideAppFolder, profileIndexXml, profilePath, profileXml } from './profile.js';
import en from './i18n/en.js';
import zh from './i18n/zh.js';

const bridge = createBridge(window);
const languages = createLanguageStore(bridge, window.localStorage);
const params = new URLSearchParams(location.search);
let t = createTranslator({ zh, en }, pickLanguage(params.get('lang'), languages.stored()));
const $ = (id) => document.getElementById(id);

const state = {
    device: null,
    api: null,
    keys: null,
    keysError: null,
    // Each part: its value, an Error when it could not be read, or undefined while reading.
    settings: {},
    macros: [],
    keyMap: [],
    profiles: [],
    mouseReport: null,
    selectedButton: null,
    selectedMacro: null,
    draft: null,
    recorder: null,
};

// ---------------------------------------------------------------- texts and status

function el(tag, attrs = {}, ...children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attrs)) {
        if (key === 'class') node.className = value;
        else if (key === 'text') node.textContent = value;
        else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
        else if (value === true) node.setAttribute(key, '');
        else if (value !== false && value !== undefined && value !== null) node.setAttribute(key, value);
    }
    node.append(...children.filter((child) => child !== null && child !== undefined));
    return node;
}

function errorText(error) {
    if (error?.kind === 'timeout') return t('error.timeout');
    if (error?.kind === 'failed') return t('error.failed', { text: error.text });
    if (error?.kind === 'unavailable') return t('error.unavailable');
    return t('error.other', { text: String(error?.message ?? error) });
}

let lastStatus = { key: 'status.loading', params: {}, kind: 'busy' };
function setStatus(key, params = {}, kind = '') {
    lastStatus = { key, params, kind };
    $('status').textContent = t(key, params);
    $('status').className = `status ${kind}`;
}

// A card's own mark: reading, saving, saved or failed.
function cardState(cardId, key, params = {}, kind = '') {
    const mark = document.querySelector(`#${cardId} .state`);
    if (!mark) return;
    mark.textContent = key ? t(key, params) : '';
    mark.className = `state ${kind}`;
    clearTimeout(mark.timer);
    if (kind === 'ok') {
        mark.timer = setTimeout(() => {
            mark.textContent = '';
            mark.className = 'state';
        }, 4000);
    }
}

// Runs one change: the card and the status bar show it being written, then its outcome.
async function change(cardId, work, okKey, okParams = {}) {
    cardState(cardId, 'state.saving', {}, 'busy');
    setStatus('status.saving', {}, 'busy');
    try {
        const result = await work();
        cardState(cardId, 'state.saved', {}, 'ok');
        setStatus(okKey, typeof okParams === 'function' ? okParams(result) : okParams, 'ok');
        return true;
    } catch (error) {
        cardState(cardId, 'state.failed', {}, 'error');
        setStatus('status.writeFailed', { error: error.problemText ?? errorText(error) }, 'error');
        return false;
    }
}

function problem(key, params) {
    const error = new Error(key);
    error.problemText = t(key, params);
    return error;
}

function partError(cardId, error, retry) {
    const card = $(cardId);
    card.classList.add('failed');
    cardState(cardId, 'state.readFailed', {}, 'error');
    let note = card.querySelector('.read-error');
    if (!note) {
        note = el('div', { class: 'read-error' });
        card.querySelector('.card-head').after(note);
    }
    note.replaceChildren(el('span', { text: t('read.failed', { error: errorText(error) }) }),
        el('button', { text: t('read.retry'), onclick: retry }));
}

function partOk(cardId) {
    const card = $(cardId);
    card.classList.remove('failed');
    card.querySelector('.read-error')?.remove();
    const mark = card.querySelector('.state');
    if (mark?.classList.contains('error') || mark?.classList.contains('busy')) cardState(cardId, '');
}

// ---------------------------------------------------------------- performance

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
        setStatus(checked.error, {}, 'error');
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

// ---------------------------------------------------------------- buttons

function macroByName(name) {
    return state.macros.find((macro) => macro.name === name) ?? null;
}

// The library's name for a macro stored on the device, when it holds the same actions.
function deviceMacroName(assignment) {
    if (!assignment.actions) return null;
    return state.macros.find((macro) => sameActions(macro.actions, assignment.actions))?.name ?? null;
}

function describeAssignment(assignment) {
    if (assignment === undefined) return t('state.reading');
    if (assignment instanceof Error) return t('read.failed', { error: errorText(assignment) });
    switch (assignment.kind) {
        case 'none': return t('kind.none');
        case 'mouse': return `${t('kind.mouse')}: ${t(`mouse.${mouseName(assignment.code)}`)}`;
        case 'dpi': return `${t('kind.dpi')}: ${t(assignment.code === 1 ? 'dpiFunction.up' : 'dpiFunction.down')}`;
        case 'hotkey': return `${t('kind.hotkey')}: ${assignment.keys.map(keyLabel).join(' + ')}`;
        case 'key': return `${t('kind.key')}: ${keyLabel(assignment.key)}${assignment.repeat > 1 ? ` ×${assignment.repeat}` : ''}`;
        case 'macro': {
            const name = assignment.macro ?? deviceMacroName(assignment) ?? t('macro.deviceSlot', { slot: assignment.slot });
            return `${t('kind.macro')}: ${name}`;
        }
        case 'softmacro': return `${t('kind.softmacro')}: ${assignment.macro}`;
        default: return t('kind.unknown', { bytes: (assignment.bytes ?? []).map((b) => b.toString(16).padStart(2, '0')).join(' ') });
    }
}

function mouseName(code) {
    return Object.keys(MOUSE).find((name) => MOUSE[name] === code) ?? 'left';
}

function keyLabel(key) {
    if (/^click:/.test(key)) return t(`click.${key.slice(6)}`);
    if (MOUSE_BUTTON_NAMES.includes(key)) return t(key === MOUSE_BUTTON_NAMES[0] ? 'mouse.left' : 'mouse.right');
    return key;
}

// Software macros sit on a button whose device function is its own click.
function effectiveAssignment(id) {
    const assignment = state.settings.buttons?.[id];
    const entry = state.keyMap.find((candidate) => candidate.button === id);
    const button = buttonById(id);
    if (entry && assignment?.kind === 'mouse' && assignment.code === button.factory.code) {
        return { kind: 'softmacro', code: assignment.code, macro: entry.macroName, playType: entry.playType, playCount: entry.playCount };
    }
    return assignment;
}

function currentAssignments() {
    return BUTTONS.map((button) => effectiveAssignment(button.id));
}

function renderButtons() {
    const buttons = state.settings.buttons;
    if (!buttons) return;
    const failed = BUTTONS.map((button) => buttons[button.id]).find((value) => value instanceof Error);
    if (failed) partError('card-buttons', failed, () => reread(['buttons']));
    else partOk('card-buttons');
    $('button-list').replaceChildren(...BUTTONS.map((button) => el('li', {
        class: `${state.selectedButton === button.id ? 'selected' : ''}`, id: `button-${button.id}`,
        onclick: () => selectButton(button.id),
    }, el('span', { class: 'badge', text: String(button.id) }),
    el('span', { class: 'button-name', text: t(`button.${button.name}`) }),
    el('span', { class: 'assignment', text: describeAssignment(effectiveAssignment(button.id)) }))));
    renderAssignTargets();
}

function fillSelect(select, options, value) {
    select.replaceChildren(...options.map(([optionValue, label]) => el('option', { value: optionValue, text: label })));
    if (value !== undefined && options.some(([optionValue]) => optionValue === value)) select.value = value;
}

function fillKeySelects() {
    const keyNames = state.keys?.keyNames ?? [];
    fillSelect($('assign-key'), [...Object.keys(CLICK_CODES).map((name) => [`click:${name}`, t(`click.${name}`)]),
        ...keyNames.map((name) => [name, name])]);
    const macroKeys = state.keys ? [...keyNames, ...MOUSE_BUTTON_NAMES.filter((name) => state.keys.has(name))] : [];
    fillSelect($('add-key'), macroKeys.map((name) => [name, keyLabel(name)]), $('add-key').value || 'A');
    fillSelect($('assign-mouse'), Object.keys(MOUSE).map((name) => [String(MOUSE[name]), t(`mouse.${name}`)]));
}

function fillMacroSelects() {
    const names = state.macros.map((macro) => [macro.name, macro.name]);
    const none = [['', t('assign.noMacros')]];
    fillSelect($('assign-macro'), names.length ? names : none, $('assign-macro').value);
    fillSelect($('assign-softmacro'), names.length ? names : none, $('assign-softmacro').value);
}

function showKindFields() {
    const kind = $('assign-kind').value;
    for (const fields of document.querySelectorAll('.kind-fields')) fields.hidden = fields.dataset.for !== kind;
    $('assign-error').textContent = '';
}

function selectButton(id) {
    state.selectedButton = id;
    const button = buttonById(id);
    $('button-editor-title').textContent = t('buttons.editing', { n: id, name: t(`button.${button.name}`) });
    $('button-editor').hidden = false;
    const softOption = $('assign-kind').querySelector('option[value=softmacro]');
    softOption.disabled = !button.trigger;
    softOption.textContent = button.trigger ? t('kind.softmacro') : `${t('kind.softmacro')} — ${t('assign.softUnavailable')}`;
    fillMacroSelects();
    const assignment = effectiveAssignment(id);
    const kind = assignment && !(assignment instanceof Error) && assignment.kind !== 'unknown' ? assignment.kind : 'mouse';
    $('assign-kind').value = kind;
    if (assignment && !(assignment instanceof Error)) {
        if (kind === 'mouse') $('assign-mouse').value = String(assignment.code);
        if (kind === 'dpi') $('assign-dpi').value = String(assignment.code);
        if (kind === 'key') {
            $('assign-key').value = assignment.key;
            $('assign-repeat').value = String(assignment.repeat);
            $('assign-interval').value = String(assignment.interval);
        }
        if (kind === 'hotkey') $('assign-hotkey').value = assignment.keys.join('+');
        if (kind === 'macro') {
            const name = deviceMacroName(assignment);
            if (name) $('assign-macro').value = name;
            $('assign-loop').value = String(assignment.loop ?? 1);
        }
        if (kind === 'softmacro') {
            $('assign-softmacro').value = assignment.macro;
            $('assign-playtype').value = String(assignment.playType);
            $('assign-playcount').value = String(assignment.playCount);
        }
    }
    showKindFields();
    renderButtons();
}

function editorAssignment() {
    const kind = $('assign-kind').value;
    const int = (id) => (/^\d+$/.test($(id).value.trim()) ? Number($(id).value.trim()) : NaN);
    switch (kind) {
        case 'mouse': return { kind, code: Number($('assign-mouse').value) };
        case 'dpi': return { kind, code: Number($('assign-dpi').value) };
        case 'key': return { kind, key: $('assign-key').value, repeat: int('assign-repeat'), interval: int('assign-interval') };
        case 'hotkey': {
            const keys = state.keys ? parseCombination($('assign-hotkey').value, state.keys) : null;
            return { kind, keys: keys ? orderCombination(keys) : [] };
        }
        case 'macro': return { kind, macro: $('assign-macro').value, loop: int('assign-loop') };
        case 'softmacro': return { kind, macro: $('assign-softmacro').value, playType: Number($('assign-playtype').value),
            playCount: int('assign-playcount') };
        default: return { kind: 'none' };
    }
}

// Saves the software macros' key map and hands it to the input filter.
async function storeKeyMap(entries) {
    const deviceId = inputHardwareId(state.device.key);
    const withMacros = entries.map((entry) => ({ ...entry, macro: macroByName(entry.macroName) })).filter((entry) => entry.macro);
    await bridge.call('modifyProfileXml', { filePath: KEY_MAP_FILE, contentStr: buildKeyMap(deviceId, withMacros) });
    await bridge.call('savexml', {});
    state.keyMap = entries;
    if (withMacros.length) await bridge.call('setVDevice', { virtualXmlPath: KEY_MAP_FILE, deviceId });
    else await bridge.call('closeVDevice', { deviceId }).catch(() => {});
}

// Gives button `id` a new assignment: checks it, writes it, then frees what the old one held.
async function assignButton(id, assignment) {
    const checked = checkAssignment(assignment, state.keys);
    if (!checked.ok) throw problem(checked.error);
    const button = buttonById(id);
    const proposed = currentAssignments().map((current, i) => (BUTTONS[i].id === id ? assignment : current));
    const asDevice = proposed.map((item, i) => (item?.kind === 'softmacro' ? { kind: 'mouse', code: BUTTONS[i].factory.code } : item));
    if (!keepsLeftClick(asDevice)) throw problem('button.keepLeft');

    const old = effectiveAssignment(id);
    let macro = null;
    if (assignment.kind === 'macro' || assignment.kind === 'softmacro') {
        macro = macroByName(assignment.macro);
        if (!macro) throw problem('button.noMacro');
        const issues = checkMacro(macro, state.keys, { forDevice: assignment.kind === 'macro', forSoftware: assignment.kind === 'softmacro' });
        if (issues.length) throw problem(issues[0].key, issues[0].params);
        if (assignment.kind === 'softmacro' && !button.trigger) throw problem('assign.softUnavailable');
    }
    const toWrite = assignment.kind === 'softmacro' ? { ...assignment, code: button.factory.code } : assignment;
    await state.api.writeButton(id, toWrite, assignment.kind === 'macro' ? macro : null);

    // The macro slot the old assignment used, unless another button plays it too.
    if (old?.kind === 'macro') {
        const others = BUTTONS.filter((other) => other.id !== id).map((other) => effectiveAssignment(other.id));
        if (!slotsInUse(others).has(old.slot)) await state.api.clearSlot(old.slot).catch(() => {});
    }
    state.settings.buttons[id] = await state.api.readButton(id);

    const hadSoft = state.keyMap.some((entry) => entry.button === id);
    if (assignment.kind === 'softmacro' || hadSoft) {
        const entries = state.keyMap.filter((entry) => entry.button !== id);
        if (assignment.kind === 'softmacro') {
            entries.push({ button: id, macroName: assignment.macro, playType: assignment.playType, playCount: assignment.playCount });
        }
        try {
            await storeKeyMap(entries);
        } catch (error) {
            state.keyMap = entries;
            throw problem('button.softFailed', { error: errorText(error) });
        }
    }
    return effectiveAssignment(id);
}

async function applyButtonEditor(event) {
    event?.preventDefault();
    const id = state.selectedButton;
    if (!id) return;
    const assignment = editorAssignment();
    $('assign-error').textContent = '';
    const ok = await change('card-button-editor', () => assignButton(id, assignment), 'status.buttonSet',
        (held) => ({ n: id, what: describeAssignment(held) }));
    if (!ok) $('assign-error').textContent = $('status').textContent;
    renderButtons();
    updateSlotUsage();
}

function restoreFactory() {
    const button = buttonById(state.selectedButton);
    if (!button) return;
    $('assign-kind').value = button.factory.kind;
    if (button.factory.kind === 'mouse') $('assign-mouse').value = String(button.factory.code);
    else $('assign-dpi').value = String(button.factory.code);
    showKindFields();
    applyButtonEditor();
}

// Key combinations are taken from the keys pressed in the field.
function hookCombinationField() {
    const field = $('assign-hotkey');
    let held = [];
    field.addEventListener('keydown', (event) => {
        const name = keyNameForCode(event.code);
        if (!name || event.code === 'Tab') return;
        event.preventDefault();
        if (!held.includes(name) && held.length < 3) held.push(name);
        field.value = orderCombination(held).join('+');
    });
    field.addEventListener('keyup', () => { held = []; });
    field.addEventListener('blur', () => { held = []; });
}

// ---------------------------------------------------------------- macros

async function loadMacros() {
    try {
        const text = await bridge.call('queryProfile', { filePath: MACRO_LIBRARY, xpath: '/macros' });
        const { macros, problems } = parseMacroLibrary(text, state.keys);
        state.macros = macros;
        if (problems.length) setStatus('status.macrosSkipped', { count: problems.length }, 'warn');
    } catch (error) {
        // No library yet: the first saved macro makes it.
        if (error?.kind !== 'failed') cardState('card-macro-list', 'read.failed', { error: errorText(error) }, 'error');
        state.macros = [];
    }
    renderMacroList();
}

async function storeMacros(macros) {
    await bridge.call('modifyProfileXml', { filePath: MACRO_LIBRARY, contentStr: macroLibraryXml(macros) });
    await bridge.call('savexml', {});
    state.macros = macros;
}

function renderMacroList() {
    $('macro-list').replaceChildren(...state.macros.map((macro) => el('li', {
        class: state.selectedMacro === macro.name ? 'selected' : '', onclick: () => editMacro(macro.name),
    }, el('span', { text: macro.name }), el('span', { class: 'muted small', text: t('macros.count', { n: macro.actions.length }) }))));
    if (!state.macros.length) $('macro-list').append(el('li', { class: 'muted empty', text: t('macros.none') }));
    fillMacroSelects();
    renderButtons();
}

function editMacro(name) {
    stopRecording();
    const macro = macroByName(name);
    state.selectedMacro = macro ? macro.name : null;
    state.draft = macro ? { name: macro.name, actions: macro.actions.map((action) => ({ ...action })), isNew: false }
        : { name: freeName(t('macro.defaultName'), state.macros.map((known) => known.name)), actions: [], isNew: true };
    $('macro-editor').hidden = false;
    $('macro-empty').hidden = true;
    $('macro-name').value = state.draft.name;
    $('macro-error').textContent = '';
    renderDraft();
    renderMacroList();
}

function renderDraft() {
    const draft = state.draft;
    if (!draft) return;
    const rows = draft.actions.map((action, index) => {
        const valueField = action.type === 'delay'
            ? el('input', { type: 'number', min: '1', max: '60000', value: String(action.ms), class: 'ms',
                onchange: (event) => { action.ms = Number(event.target.value); renderDraftInfo(); } })
            : (() => {
                const select = el('select', { onchange: (event) => { action.key = event.target.value; renderDraftInfo(); } });
                fillSelect(select, $('add-key').querySelectorAll('option').length
                    ? [...$('add-key').options].map((option) => [option.value, option.textContent]) : [[action.key, action.key]], action.key);
                return select;
            })();
        const move = (delta) => () => {
            const to = index + delta;
            if (to < 0 || to >= draft.actions.length) return;
            [draft.actions[index], draft.actions[to]] = [draft.actions[to], draft.actions[index]];
            renderDraft();
        };
        return el('tr', { class: `action-${action.type}` },
            el('td', { class: 'muted', text: String(index + 1) }),
            el('td', { text: t(`action.${action.type}`) }),
            el('td', {}, valueField),
            el('td', { class: 'row-buttons' },
                el('button', { text: '↑', title: t('macro.moveUp'), onclick: move(-1) }),
                el('button', { text: '↓', title: t('macro.moveDown'), onclick: move(1) }),
                el('button', { text: '✕', title: t('macro.remove'), class: 'danger', onclick: () => { draft.actions.splice(index, 1); renderDraft(); } })));
    });
    $('macro-actions').replaceChildren(...rows);
    if (!rows.length) $('macro-actions').append(el('tr', {}, el('td', { colspan: '4', class: 'muted', text: t('macro.noActions') })));
    renderDraftInfo();
}

function renderDraftInfo() {
    const draft = state.draft;
    const total = draft.actions.filter((action) => action.type === 'delay').reduce((sum, action) => sum + (action.ms || 0), 0);
    $('macro-info').textContent = t('macro.info', { actions: draft.actions.length, ms: total,
        items: deviceItemCount(draft.actions), max: MACRO_SLOT_ITEMS });
}

function draftMacro() {
    return { name: $('macro-name').value.trim(), actions: state.draft.actions.map((action) => ({ ...action })) };
}

function recordKey(event, pressed) {
    if (!state.recorder) return;
    const name = keyNameForCode(event.code);
    event.preventDefault();
    if (!name || (pressed && event.repeat)) return;
    const took = pressed ? state.recorder.press(name, event.timeStamp) : state.recorder.release(name, event.timeStamp);
    if (took) {
        state.draft.actions = [...state.recordBase, ...state.recorder.actions];
        renderDraft();
    }
}

function recordMouse(event, pressed) {
    if (!state.recorder || (event.button !== 0 && event.button !== 2)) return;
    const name = MOUSE_BUTTON_NAMES[event.button === 0 ? 0 : 1];
    if (!state.keys?.has(name)) return;
    event.preventDefault();
    const took = pressed ? state.recorder.press(name, event.timeStamp) : state.recorder.release(name, event.timeStamp);
    if (took) {
        state.draft.actions = [...state.recordBase, ...state.recorder.actions];
        renderDraft();
    }
}

function startRecording() {
    state.recorder = createRecorder({ withDelays: $('macro-with-delays').checked });
    state.recordBase = state.draft.actions;
    $('macro-record').textContent = t('macro.stop');
    $('macro-record').classList.add('recording');
    $('record-pad').classList.add('recording');
    $('record-pad').textContent = t('macro.recording');
    $('record-pad').focus();
    setStatus('status.recording', {}, 'busy');
}

function stopRecording() {
    if (!state.recorder) return;
    state.draft.actions = [...state.recordBase, ...state.recorder.stop()];
    state.recorder = null;
    $('macro-record').textContent = t('macro.record');
    $('macro-record').classList.remove('recording');
    $('record-pad').classList.remove('recording');
    $('record-pad').textContent = t('macro.recordPad');
    setStatus('status.recorded', { n: state.draft.actions.length }, 'ok');
    renderDraft();
}

function addAction() {
    const type = $('add-type').value;
    if (type === 'delay') {
        const ms = Number($('add-ms').value);
        state.draft.actions.push({ type, ms: Number.isInteger(ms) ? ms : 0 });
    } else {
        state.draft.actions.push({ type, key: $('add-key').value });
    }
    renderDraft();
}

async function saveMacro() {
    stopRecording();
    const macro = draftMacro();
    const problems = checkMacro(macro, state.keys);
    const oldName = state.draft.isNew ? null : state.selectedMacro;
    if (macro.name !== oldName && macroByName(macro.name)) problems.unshift({ key: 'macro.nameTaken' });
    if (problems.length) {
        $('macro-error').textContent = problems.map((item) => t(item.key, item.params)).join(' ');
        cardState('card-macro-editor', 'state.invalid', {}, 'error');
        return;
    }
    $('macro-error').textContent = '';
    const previous = oldName ? macroByName(oldName) : null;
    const macros = state.macros.filter((known) => known.name !== oldName);
    const at = state.macros.findIndex((known) => known.name === oldName);
    macros.splice(at < 0 ? macros.length : at, 0, macro);
    const ok = await change('card-macro-editor', async () => {
        await storeMacros(macros);
        // Buttons playing the macro play the new version.
        if (previous) await refreshMacroUsers(previous, macro);
    }, 'status.macroSaved', { name: macro.name });
    if (ok) {
        state.selectedMacro = macro.name;
        state.draft.isNew = false;
        state.draft.name = macro.name;
    }
    renderMacroList();
}

// Buttons that played the macro before it was changed play the new version.
async function refreshMacroUsers(previous, macro) {
    const failures = [];
    if (state.keyMap.some((entry) => entry.macroName === previous.name)) {
        const entries = state.keyMap.map((entry) => (entry.macroName === previous.name ? { ...entry, macroName: macro.name } : entry));
        await storeKeyMap(entries).catch((error) => failures.push(error));
    }
    if (!sameActions(previous.actions, macro.actions)) {
        for (const button of BUTTONS) {
            const assignment = state.settings.buttons?.[button.id];
            if (assignment?.kind !== 'macro' || !assignment.actions || !sameActions(assignment.actions, previous.actions)) continue;
            await assignButton(button.id, { kind: 'macro', macro: macro.name, loop: assignment.loop ?? 1 })
                .catch((error) => failures.push(error));
        }
    }
    if (failures.length) throw failures[0];
}

async function deleteMacro() {
    stopRecording();
    const name = state.selectedMacro;
    if (!name) {
        state.draft = null;
        $('macro-editor').hidden = true;
        $('macro-empty').hidden = false;
        return;
    }
    const used = currentAssignments().some((assignment) => assignment?.kind === 'softmacro' && assignment.macro === name)
        || BUTTONS.some((button) => {
            const assignment = state.settings.buttons?.[button.id];
            return assignment?.kind === 'macro' && deviceMacroName(assignment) === name;
        });
    if (used) {
        $('macro-error').textContent = t('macro.inUse');
        return;
    }
    const ok = await change('card-macro-editor', () => storeMacros(state.macros.filter((macro) => macro.name !== name)),
        'status.macroDeleted', { name });
    if (ok) {
        state.selectedMacro = null;
        state.draft = null;
        $('macro-editor').hidden = true;
        $('macro-empty').hidden = false;
    }
    renderMacroList();
}

function testMacro() {
    stopRecording();
    const macro = draftMacro();
    const problems = checkMacro({ ...macro, name: macro.name || 'test' }, state.keys);
    if (problems.length) {
        $('macro-error').textContent = problems.map((item) => t(item.key, item.params)).join(' ');
        return;
    }
    // playActions gives no answer; the input engine plays what it can.
    bridge.send('playActions', { actionList: playActionText(macro.actions) });
    setStatus('status.macroPlayed', { name: macro.name }, 'ok');
}

function renderAssignTargets() {
    const select = $('macro-assign-button');
    const value = select.value;
    fillSelect(select, BUTTONS.map((button) => [String(button.id), `${button.id} · ${t(`button.${button.name}`)}`]), value || '4');
}

async function assignFromEditor() {
    const name = state.selectedMacro;
    if (!name || state.draft?.isNew) {
        $('macro-error').textContent = t('macro.saveFirst');
        return;
    }
    const id = Number($('macro-assign-button').value);
    const mode = $('macro-assign-mode').value;
    const assignment = mode === 'macro' ? { kind: 'macro', macro: name, loop: 1 } : { kind: 'softmacro', macro: name, playType: 0, playCount: 1 };
    const ok = await change('card-macro-editor', () => assignButton(id, assignment), 'status.buttonSet',
        (held) => ({ n: id, what: describeAssignment(held) }));
    if (!ok) $('macro-error').textContent = $('status').textContent;
    renderButtons();
    updateSlotUsage();
}

async function updateSlotUsage() {
    if (!state.api || !state.keys?.slotCount) return;
    const results = await Promise.all(Array.from({ length: state.keys.slotCount },
        (_, slot) => state.api.slotIsEmpty(slot).then((empty) => !empty, () => null)));
    if (results.includes(null)) {
        $('slot-usage').textContent = t('error.timeout');
        return;
    }
    $('slot-usage').textContent = t('macros.slotUsage', { used: results.filter(Boolean).length, total: results.length });
    state.slotsUsed = results;
}

async function freeSlots() {
    const buttons = state.settings.buttons ?? {};
    if (Object.values(buttons).some((value) => value === undefined || value instanceof Error)) {
        setStatus('status.buttonsUnknown', {}, 'error');
        return;
    }
    await updateSlotUsage();
    const used = slotsInUse(BUTTONS.map((button) => buttons[button.id]));
    const stale = (state.slotsUsed ?? []).map((inUse, slot) => (inUse && !used.has(slot) ? slot : -1)).filter((slot) => slot >= 0);
    await change('card-macro-list', async () => {
        for (const slot of stale) await state.api.clearSlot(slot);
        return stale.length;
    }, 'status.slotsFreed', (count) => ({ n: count }));
    updateSlotUsage();
}

// ---------------------------------------------------------------- lighting, debounce, sound

function renderLighting() {
    const lighting = state.settings.lighting;
    if (lighting instanceof Error) return partError('card-lighting', lighting, () => reread(['lighting']));
    const disabled = !lighting;
    for (const id of ['light-mode', 'light-color', 'light-brightness', 'light-speed']) $(id).disabled = disabled;
    if (!lighting) return;
    partOk('card-lighting');
    $('light-mode').value = String(lighting.mode);
    $('light-color').value = lighting.color;
    $('light-color-text').textContent = lighting.color;
    $('light-brightness').value = String(lighting.brightness);
    $('light-brightness-value').textContent = `${lighting.brightness}%`;
    $('light-speed').value = String(lighting.speed);
    $('light-speed-value').textContent = String(lighting.speed);
    const preview = $('light-preview');
    preview.style.setProperty('--glow', lighting.color);
    preview.style.opacity = lighting.mode === 0 ? '0.15' : String(0.25 + 0.75 * lighting.brightness / 100);
    preview.dataset.mode = String(lighting.mode);
    preview.style.setProperty('--speed', `${(6 - lighting.speed) * 0.8}s`);
}

async function writeLighting() {
    const current = state.settings.lighting;
    if (!current || current instanceof Error) return;
    const next = { ...current, mode: Number($('light-mode').value), color: $('light-color').value,
        brightness: Number($('light-brightness').value), speed: Number($('light-speed').value) };
    const ok = await change('card-lighting', () => state.api.writeLighting(next), 'status.lightingSet');
    if (ok) state.settings.lighting = next;
    renderLighting();
}

function renderDebounce() {
    const debounce = state.settings.debounce;
    if (debounce instanceof Error) return partError('card-debounce', debounce, () => reread(['debounce']));
    $('debounce-time').disabled = !debounce;
    if (!debounce) return;
    partOk('card-debounce');
    $('debounce-time').value = String(debounce.time);
    $('debounce-time-value').textContent = t('unit.ms', { n: debounce.time });
    $('lift-options').replaceChildren(...LIFT_OFF_MM.map((mm) => el('button', {
        class: mm === debounce.liftOff ? 'selected' : '', 'data-mm': String(mm), role: 'radio', 'aria-checked': String(mm === debounce.liftOff),
        text: t('unit.mm', { n: mm }), onclick: () => writeDebounce({ liftOff: mm }),
    })));
}

async function writeDebounce(part) {
    const current = state.settings.debounce;
    if (!current || current instanceof Error) return;
    const next = { ...current, time: Number($('debounce-time').value), ...part };
    const ok = await change('card-debounce', () => state.api.writeDebounce(next), 'status.debounceSet',
        { ms: next.time, mm: next.liftOff });
    if (ok) state.settings.debounce = next;
    renderDebounce();
}

function renderSound() {
    const sound = state.settings.sound;
    if (sound instanceof Error) return partError('card-sound', sound, () => reread(['sound']));
    $('sound-on').disabled = !sound;
    $('sound-volume').disabled = !sound || !sound.on;
    if (!sound) return;
    partOk('card-sound');
    $('sound-on').checked = sound.on;
    $('sound-volume').value = String(sound.volume);
    $('sound-volume-value').textContent = `${sound.volume}%`;
}

async function writeSound() {
    const current = state.settings.sound;
    if (!current || current instanceof Error) return;
    const next = { ...current, on: $('sound-on').checked, volume: Number($('sound-volume').value) };
    const ok = await change('card-sound', () => state.api.writeSound(next), next.on ? 'status.soundOn' : 'status.soundOff',
        { volume: next.volume });
    if (ok) state.settings.sound = next;
    renderSound();
}

// ---------------------------------------------------------------- system mouse settings

const SYSTEM_FIELDS = ['sys-speed', 'sys-accel', 'sys-scroll', 'sys-scroll-x', 'sys-double'];

async function loadSystemSettings() {
    for (const id of SYSTEM_FIELDS) $(id).disabled = true;
    cardState('card-system', 'state.reading', {}, 'busy');
    try {
        const text = await bridge.call('getWindowsMouseConfig', state.api.ids);
        state.mouseReport = parseMouseReport(text);
        partOk('card-system');
        renderSystemSettings();
    } catch (error) {
        partError('card-system', error, loadSystemSettings);
    }
}

function renderSystemSettings() {
    const report = state.mouseReport;
    if (!report) return;
    const level = speedLevelFromReport(report.speed);
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

function range(from, to) {
    return Array.from({ length: to - from + 1 }, (_, i) => from + i);
}

async function writeSystem(funcname, num, okKey, okParams) {
    const ok = await change('card-system', () => bridge.call(funcname, { num }), okKey, okParams);
    if (!ok) await loadSystemSettings();
}

// ---------------------------------------------------------------- profiles

async function loadProfiles() {
    try {
        state.profiles = parseProfileIndex(await bridge.call('queryProfile', { filePath: PROFILE_INDEX, xpath: '/profiles' }));
    } catch (error) {
        if (error?.kind !== 'failed') partError('card-profiles', error, loadProfiles);
        state.profiles = [];
    }
    renderProfiles();
}

function renderProfiles() {
    $('profiles-empty').hidden = state.profiles.length > 0;
    document.querySelector('.profile-table').hidden = state.profiles.length === 0;
    $('profile-rows').replaceChildren(...state.profiles.map((entry) => el('tr', {},
        el('td', { text: entry.name }),
        el('td', { class: 'muted small', text: profilePath(entry.file) }),
        el('td', { class: 'row-buttons' },
            el('button', { class: 'primary', text: t('profiles.load'), onclick: () => loadProfile(entry) }),
            el('button', { text: t('profiles.overwrite'), onclick: () => saveProfile(entry.name, entry.file) }),
            el('button', { class: 'danger', text: t('profiles.remove'), onclick: () => removeProfile(entry) })))));
}

// The settings as a profile holds them, or a problem when a part has not been read.
function collectProfile() {
    const s = state.settings;
    const parts = ['dpi', 'dpiStage', 'reportInterval', 'lighting', 'debounce', 'sound'];
    const missing = parts.filter((part) => s[part] === undefined || s[part] instanceof Error);
    const buttonsKnown = BUTTONS.every((button) => s.buttons?.[button.id] && !(s.buttons[button.id] instanceof Error));
    if (missing.length || !buttonsKnown) throw problem('profiles.notRead');
    const macros = [...state.macros];
    const buttons = {};
    for (const button of BUTTONS) {
        const assignment = effectiveAssignment(button.id);
        if (assignment.kind === 'macro') {
            let name = deviceMacroName(assignment);
            if (!name && assignment.actions) {
                name = freeName(t('macro.fromDevice'), macros.map((macro) => macro.name));
                macros.push({ name, actions: assignment.actions });
            }
            if (name) buttons[button.id] = { kind: 'macro', macro: name, loop: assignment.loop ?? 1 };
        } else if (assignment.kind === 'softmacro') {
            buttons[button.id] = { kind: 'softmacro', macro: assignment.macro, playType: assignment.playType, playCount: assignment.playCount };
        } else if (assignment.kind !== 'unknown') {
            buttons[button.id] = assignment;
        }
    }
    return { settings: { ...s, buttons }, macros };
}

async function saveProfile(name, file) {
    await change('card-profiles', async () => {
        const { settings, macros } = collectProfile();
        await bridge.call('modifyProfileXml', { filePath: profilePath(file), contentStr: profileXml(name, settings, macros) });
        const entries = state.profiles.some((entry) => entry.file === file) ? state.profiles
            : [...state.profiles, { name, file }];
        await bridge.call('modifyProfileXml', { filePath: PROFILE_INDEX, contentStr: profileIndexXml(entries) });
        await bridge.call('savexml', {});
        state.profiles = entries;
    }, 'status.profileSaved', { name });
    renderProfiles();
}

function saveNewProfile(event) {
    event.preventDefault();
    const name = $('profile-name').value.trim();
    if (!name) return;
    if (state.profiles.some((entry) => entry.name === name)) {
        setStatus('profiles.nameTaken', { name }, 'error');
        return;
    }
    $('profile-name').value = '';
    saveProfile(name, newProfileFile(state.profiles));
}

async function removeProfile(entry) {
    const entries = state.profiles.filter((candidate) => candidate !== entry);
    const ok = await change('card-profiles', async () => {
        await bridge.call('modifyProfileXml', { filePath: PROFILE_INDEX, contentStr: profileIndexXml(entries) });
        await bridge.call('savexml', {});
    }, 'status.profileRemoved', { name: entry.name });
    if (ok) state.profiles = entries;
    renderProfiles();
}

// Writes a profile's settings to the mouse, part by part; a part that fails does not stop the rest.
async function applyProfile(parsed) {
    const { settings, macros } = parsed;
    const failures = parsed.problems.map((item) => t(item.key, item.params?.part
        ? { ...item.params, part: t(`part.${item.params.part}`) } : item.params));
    const attempt = async (label, work) => {
        try {
            await work();
        } catch (error) {
            failures.push(`${label}: ${error.problemText ?? errorText(error)}`);
        }
    };
    if (macros.length) {
        const merged = [...state.macros.filter((macro) => !macros.some((incoming) => incoming.name === macro.name)), ...macros];
        await attempt(t('tab.macros'), () => storeMacros(merged));
    }
    if (settings.dpi) {
        for (const [index, stage] of settings.dpi.entries()) {
            await attempt(t('dpi.stageN', { n: index + 1 }), async () => {
                await state.api.writeDpiStage(index, stage);
                state.settings.dpi[index] = stage;
            });
        }
    }
    if (settings.dpiStage !== undefined) {
        await attempt(t('dpi.active'), async () => { await state.api.writeDpiActive(settings.dpiStage); state.settings.dpiStage = settings.dpiStage; });
    }
    if (settings.reportInterval !== undefined) {
        await attempt(t('rate.heading'), async () => {
            await state.api.writeReportInterval(settings.reportInterval);
            state.settings.reportInterval = settings.reportInterval;
        });
    }
    for (const part of ['lighting', 'debounce', 'sound']) {
        if (!settings[part]) continue;
        const writer = { lighting: state.api.writeLighting, debounce: state.api.writeDebounce, sound: state.api.writeSound }[part];
        await attempt(t(`${part}.heading`), async () => { await writer(settings[part]); state.settings[part] = settings[part]; });
    }
    if (settings.buttons) {
        // Left click first, so the mouse keeps one at every step.
        const order = Object.keys(settings.buttons).map(Number).sort((a, b) => {
            const left = (id) => (settings.buttons[id].kind === 'mouse' && settings.buttons[id].code === MOUSE.left ? 0 : 1);
            return left(a) - left(b) || a - b;
        });
        for (const id of order) {
            await attempt(t('buttons.editing', { n: id, name: t(`button.${buttonById(id).name}`) }),
                () => assignButton(id, settings.buttons[id]));
        }
    }
    // What the mouse holds now is the confirmation.
    const read = await state.api.readAll();
    state.settings = read;
    renderAll();
    updateSlotUsage();
    return failures;
}

async function loadProfile(entry) {
    setStatus('status.profileLoading', { name: entry.name }, 'busy');
    cardState('card-profiles', 'state.saving', {}, 'busy');
    try {
        const text = await bridge.call('queryProfile', { filePath: profilePath(entry.file), xpath: '/profile' });
        const failures = await applyProfile(parseProfile(text, state.keys));
        reportApplied(entry.name, failures, 'card-profiles');
    } catch (error) {
        cardState('card-profiles', 'state.failed', {}, 'error');
        setStatus('status.profileFailed', { name: entry.name, error: error.problemText ?? errorText(error) }, 'error');
    }
}

function reportApplied(name, failures, cardId) {
    if (failures.length) {
        cardState(cardId, 'state.partly', {}, 'error');
        setStatus('status.profilePartly', { name, count: failures.length, first: failures[0] }, 'error');
    } else {
        cardState(cardId, 'state.saved', {}, 'ok');
        setStatus('status.profileLoaded', { name }, 'ok');
    }
}

// A file dialog holds every other command until it closes; device listings meanwhile would
// time out and read as an unplugged mouse, so listing pauses.
let watcher = null;
async function fileDialog(funcname) {
    watcher?.stop();
    try {
        return await bridge.call(funcname, {}, { timeout: 60 * 60 * 1000 });
    } finally {
        watcher?.start();
    }
}

// The file dialogs give absolute paths; the profile commands accept only paths below the
// application folder, so a file elsewhere is refused with that explanation.
function chosenPath(answer) {
    const relative = pathInsideAppFolder(appFolderFromPageUrl(location.href), answer);
    if (!relative) throw problem('transfer.outside', { path: answer, folder: appFolderFromPageUrl(location.href) ?? '?' });
    return relative;
}

async function exportProfile() {
    let answer;
    try {
        answer = await fileDialog('saveFileDialog');
    } catch (error) {
        if (error?.kind === 'failed') setStatus('status.cancelled', {}, '');
        else setStatus('status.writeFailed', { error: errorText(error) }, 'error');
        return;
    }
    const path = /\.pfd$/i.test(answer) ? answer : `${answer}.pfd`;
    await change('card-transfer', async () => {
        const { settings, macros } = collectProfile();
        const name = path.replace(/^.*[\\/]/, '').replace(/\.pfd$/i, '');
        await bridge.call('modifyProfileXml', { filePath: chosenPath(path), contentStr: profileXml(name, settings, macros) });
        await bridge.call('savexml', {});
    }, 'status.exported', { path });
}

async function importProfile() {
    let answer;
    try {
        answer = await fileDialog('openFileDialog');
    } catch (error) {
        if (error?.kind === 'failed') setStatus('status.cancelled', {}, '');
        else setStatus('status.writeFailed', { error: errorText(error) }, 'error');
        return;
    }
    cardState('card-transfer', 'state.saving', {}, 'busy');
    setStatus('status.profileLoading', { name: answer }, 'busy');
    try {
        const text = await bridge.call('queryProfile', { filePath: chosenPath(answer), xpath: '/profile' });
        const parsed = parseProfile(text, state.keys);
        const failures = await applyProfile(parsed);
        reportApplied(parsed.name || answer, failures, 'card-transfer');
    } catch (error) {
        cardState('card-transfer', 'state.failed', {}, 'error');
        setStatus('status.profileFailed', { name: answer, error: error.problemText ?? errorText(error) }, 'error');
    }
}

// ---------------------------------------------------------------- reading the device

function renderAll() {
    renderDpi();
    renderRate();
    renderButtons();
    renderLighting();
    renderDebounce();
    renderSound();
    renderMacroList();
}

async function reread(parts) {
    for (const part of parts) state.settings[part] = undefined;
    renderAll();
    const all = await state.api.readAll();
    for (const part of parts) state.settings[part] = all[part];
    renderAll();
}

async function readDevice() {
    setStatus('status.loading', {}, 'busy');
    state.settings = {};
    renderAll();
    state.settings = await state.api.readAll();
    renderAll();
    const failed = Object.entries(state.settings).filter(([, value]) => value instanceof Error);
    if (failed.length) setStatus('status.readPartly', { count: failed.length }, 'error');
    else setStatus('status.read', {}, 'ok');
    loadSystemSettings();
    updateSlotUsage();
}

async function loadKeyTable() {
    try {
        const [keysText, macrosText] = await Promise.all([
            bridge.call('queryProfile', { filePath: KEY_DEFINITION_PATH, xpath: '/keyboard/key' }),
            bridge.call('queryProfile', { filePath: KEY_DEFINITION_PATH, xpath: '/keyboard/macro' }),
        ]);
        state.keys = parseKeyTable(keysText, macrosText);
        state.keysError = null;
    } catch (error) {
        // Key names come from the file; without them keys and macros cannot be assigned.
        state.keys = parseKeyTable('', '');
        state.keysError = error;
        setStatus('status.keysFailed', { error: errorText(error) }, 'error');
    }
    fillKeySelects();
}

async function loadKeyMap() {
    try {
        const text = await bridge.call('queryProfile', { filePath: KEY_MAP_FILE, xpath: '/conf' });
        state.keyMap = text.trim() ? parseKeyMap(text).entries : [];
        if (state.keyMap.length) {
            await bridge.call('setVDevice', { virtualXmlPath: KEY_MAP_FILE, deviceId: inputHardwareId(state.device.key) })
                .catch((error) => setStatus('status.softUnavailable', { error: errorText(error) }, 'warn'));
        }
    } catch {
        state.keyMap = [];
    }
}

// The device this page shows: the one named in the address, else the first of this model.
async function pickDevice(devices) {
    const wanted = params.get('device');
    const named = devices.find((device) => device.deviceId === wanted);
    if (named) return named;
    for (const device of devices) {
        try {
            const info = parseProductInfo(await bridge.call('queryProfile', { filePath: CONF_FILE, xpath: productInfoXPath(device.key) }));
            if (info?.device === MODEL) return device;
        } catch {
            // Not this one.
        }
    }
    return null;
}

async function showModelName(device) {
    try {
        const info = parseProductInfo(await bridge.call('queryProfile', { filePath: CONF_FILE, xpath: productInfoXPath(device.key) }));
        if (info?.name) {
            $('model-name').textContent = info.name;
            document.title = info.name;
        }
    } catch {
        // The model id stays in the title.
    }
}

function showConnection(connected) {
    $('connection').textContent = t(connected ? 'device.connected' : 'device.disconnected');
    $('connection').className = `connection ${connected ? 'ok' : 'error'}`;
    $('disconnected').hidden = connected;
}

let attaching = false;
async function onDevices(devices) {
    const present = state.device && devices.some((device) => device.deviceId === state.device.deviceId);
    if (present) {
        showConnection(true);
        return;
    }
    if (state.device) {
        // Gone: everything read from it is stale until it returns.
        state.api = null;
        state.device = null;
        showConnection(false);
        setStatus('status.disconnected', {}, 'error');
    }
    if (attaching) return;
    attaching = true;
    try {
        const device = await pickDevice(devices);
        if (!device) {
            showConnection(false);
            if (lastStatus.key === 'status.loading') setStatus('status.noDevice', {}, 'error');
            return;
        }
        state.device = device;
        state.api = createDevice(bridge, device, state.keys);
        showConnection(true);
        $('device-id').textContent = `${device.version} · ${device.sn}`;
        showModelName(device);
        await loadKeyMap();
        await readDevice();
    } finally {
        attaching = false;
    }
}

// ---------------------------------------------------------------- page

function showTab(name) {
    for (const button of $('tabs').querySelectorAll('button')) button.classList.toggle('active', button.dataset.tab === name);
    for (const section of document.querySelectorAll('.tab')) section.hidden = section.id !== `tab-${name}`;
    if (name !== 'macros') stopRecording();
}

function goBack() {
    stopRecording();
    // The main page opens this page in its own view with the device in the address; a device's
    // hot key opens it without one, in a window of its own, which back closes.
    if (!params.has('device')) bridge.send('closeView');
    else if (history.length > 1) bridge.call('goback', {}, { timeout: 2000 }).catch(() => {});
    else bridge.send('loadurl', { url: '/template/default/index.html' });
}

async function setLanguage(language, remember) {
    if (!isLanguage(language)) return;
    t = createTranslator({ zh, en }, language);
    document.documentElement.lang = language === 'zh' ? 'zh-CN' : 'en';
    $('language').value = language;
    applyTexts(document, t);
    setStatus(lastStatus.key, lastStatus.params, lastStatus.kind);
    fillKeySelects();
    renderAll();
    if (state.mouseReport) renderSystemSettings();
    renderProfiles();
    renderDraft();
    if (state.device) showConnection(Boolean(state.api));
    if (state.selectedButton) selectButton(state.selectedButton);
    if (remember) await languages.save(language).catch(() => {});
}

function hookPage() {
    hookTitleBar(bridge, { bar: $('titlebar'), minimise: $('btn-min'), maximise: $('btn-max'), close: $('btn-close') });
    $('back').addEventListener('click', goBack);
    $('overlay-back').addEventListener('click', goBack);
    $('language').addEventListener('change', (event) => setLanguage(event.target.value, true));
    for (const button of $('tabs').querySelectorAll('button')) button.addEventListener('click', () => showTab(button.dataset.tab));

    $('assign-kind').addEventListener('change', showKindFields);
    $('button-editor').addEventListener('submit', applyButtonEditor);
    $('assign-factory').addEventListener('click', restoreFactory);
    hookCombinationField();

    $('macro-new').addEventListener('click', () => editMacro(null));
    $('macro-record').addEventListener('click', () => (state.recorder ? stopRecording() : startRecording()));
    // While recording every key goes to the macro, wherever the focus is.
    document.addEventListener('keydown', (event) => recordKey(event, true), true);
    document.addEventListener('keyup', (event) => recordKey(event, false), true);
    $('record-pad').addEventListener('mousedown', (event) => recordMouse(event, true));
    $('record-pad').addEventListener('mouseup', (event) => recordMouse(event, false));
    $('record-pad').addEventListener('contextmenu', (event) => { if (state.recorder) event.preventDefault(); });
    $('add-type').addEventListener('change', () => {
        const delay = $('add-type').value === 'delay';
        $('add-key').hidden = delay;
        $('add-ms').hidden = !delay;
    });
    $('add-action').addEventListener('click', addAction);
    $('macro-save').addEventListener('click', saveMacro);
    $('macro-delete').addEventListener('click', deleteMacro);
    $('macro-test').addEventListener('click', testMacro);
    $('macro-assign').addEventListener('click', assignFromEditor);
    $('slots-free').addEventListener('click', freeSlots);

    $('light-mode').addEventListener('change', writeLighting);
    $('light-color').addEventListener('change', writeLighting);
    $('light-brightness').addEventListener('input', () => { $('light-brightness-value').textContent = `${$('light-brightness').value}%`; });
    $('light-brightness').addEventListener('change', writeLighting);
    $('light-speed').addEventListener('input', () => { $('light-speed-value').textContent = $('light-speed').value; });
    $('light-speed').addEventListener('change', writeLighting);

    $('debounce-time').addEventListener('input', () => { $('debounce-time-value').textContent = t('unit.ms', { n: $('debounce-time').value }); });
    $('debounce-time').addEventListener('change', () => writeDebounce({}));
    $('sound-on').addEventListener('change', writeSound);
    $('sound-volume').addEventListener('input', () => { $('sound-volume-value').textContent = `${$('sound-volume').value}%`; });
    $('sound-volume').addEventListener('change', writeSound);

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

    $('profile-new').addEventListener('submit', saveNewProfile);
    $('profile-export').addEventListener('click', exportProfile);
    $('profile-import').addEventListener('click', importProfile);
}

async function start() {
    hookPage();
    // A language handed over in the address is this origin's choice from now on.
    if (isLanguage(params.get('lang'))) languages.keep(params.get('lang'));
    await setLanguage(t.language, false);
    if (!bridge.available()) {
        setStatus('status.noChannel', {}, 'error');
        return;
    }
    const tab = params.get('tab');
    showTab(tab && $(`tab-${tab}`) ? tab : 'performance');
    await loadKeyTable();
    await loadMacros();
    loadProfiles();
    watcher = createDeviceWatcher({
        list: () => listDevices(bridge),
        onChange: onDevices,
        onError: (error) => setStatus('status.listFailed', { error: errorText(error) }, 'error'),
    });
    bridge.on('devicesChanged', () => watcher.poke());
    watcher.start();
    const saved = await languages.fromFile();
    if (saved && saved !== t.language && !isLanguage(params.get('lang'))) {
        languages.keep(saved);
        setLanguage(saved, false);
    }
}

start();
