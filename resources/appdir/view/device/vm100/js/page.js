// What the cards of the settings page share: the command channel, the mouse and what was read
// from it, the macro library and the software macros' key map, the texts, and the status bar
// and card marks that say how a read or a change went.

import { buildKeyMap } from './keymap.js';
import { MOUSE_BUTTON_NAMES } from './keys.js';
import { sameActions } from './macro.js';
import { BUTTONS, buttonById, inputHardwareId, KEY_MAP_FILE, MACRO_LIBRARY } from './model.js';
import { macroLibraryXml } from './profile.js';

export function el(tag, attrs = {}, ...children) {
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

export function fillSelect(select, options, value) {
    select.replaceChildren(...options.map(([optionValue, label]) => el('option', { value: optionValue, text: label })));
    if (value !== undefined && options.some(([optionValue]) => optionValue === value)) select.value = value;
}

export function createPage(bridge, translator) {
    let current = translator;
    // Stays the same function when the language changes, so cards may keep it.
    const t = (key, params) => current(key, params);
    const $ = (id) => document.getElementById(id);

    const state = {
        device: null,
        api: null,
        keys: null,
        // Each part: its value, an Error when it could not be read, or undefined while reading.
        settings: {},
        macros: [],
        keyMap: [],
    };

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

    function keyLabel(key) {
        if (/^click:/.test(key)) return t(`click.${key.slice(6)}`);
        if (MOUSE_BUTTON_NAMES.includes(key)) return t(key === MOUSE_BUTTON_NAMES[0] ? 'mouse.left' : 'mouse.right');
        return key;
    }

    function macroByName(name) {
        return state.macros.find((macro) => macro.name === name) ?? null;
    }

    // The library's name for a macro stored on the device, when it holds the same actions.
    function deviceMacroName(assignment) {
        if (!assignment.actions) return null;
        return state.macros.find((macro) => sameActions(macro.actions, assignment.actions))?.name ?? null;
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

    async function storeMacros(macros) {
        await bridge.call('modifyProfileXml', { filePath: MACRO_LIBRARY, contentStr: macroLibraryXml(macros) });
        await bridge.call('savexml', {});
        state.macros = macros;
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

    return {
        bridge,
        state,
        $,
        t,
        language: () => current.language,
        setTranslator(next) {
            current = next;
        },
        statusKey: () => lastStatus.key,
        // The last status again, in the current language.
        repeatStatus: () => setStatus(lastStatus.key, lastStatus.params, lastStatus.kind),
        errorText,
        setStatus,
        cardState,
        change,
        problem,
        partError,
        partOk,
        keyLabel,
        macroByName,
        deviceMacroName,
        effectiveAssignment,
        currentAssignments,
        storeMacros,
        storeKeyMap,
    };
}
