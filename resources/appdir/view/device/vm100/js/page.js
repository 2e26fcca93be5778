// What the cards of the settings page share: the command channel, the mouse and what was read
// from it, the macro library and the software macros' key map, the texts, and the status bar
// and card marks that say how a read or a change went.

import { buildKeyMap } from './keymap.js';
import { MOUSE_BUTTON_NAMES } from './keys.js';
import { sameActions } from './macro.js';
import { BUTTONS, buttonById, inputHardwareId, KEY_MAP_FILE, MACRO_LIBRARY } from './model.js';
import { macroLibraryXml } from './profile.js';
import { createStatusBoard, failureArea, failureMark, failureReason, failureStatus, problem, render, text } from './status.js';

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

    // Why something failed, in the user's words.
    function errorText(error) {
        return render(failureReason(error), t);
    }

    // Status messages by subject (a card's id, 'device', 'listing' ...). Notes beside an
    // editor show their subject's standing problem and go with it.
    const board = createStatusBoard();
    board.report('device', text('status.loading'), 'busy');
    const notes = new Map();
    function showStatus() {
        const shown = board.shown();
        const line = shown ? render(shown.message, t) : '';
        $('status').textContent = line;
        // The line may be cut short; the whole of it shows on hover.
        $('status').title = line;
        $('status').className = `status ${shown?.kind ?? ''}`;
        for (const [subject, id] of notes) {
            const standing = board.problem(subject);
            $(id).textContent = standing ? render(standing.message, t) : '';
        }
    }

    function report(subject, message, kind = '') {
        board.report(subject, message, kind);
        showStatus();
    }

    function setStatus(key, params = {}, kind = '', subject = 'page') {
        report(subject, text(key, params), kind);
    }

    function resolveStatus(subject) {
        board.resolve(subject);
        showStatus();
    }

    // Drops the subject's problem once it no longer holds; a success stays.
    function clearProblem(subject) {
        if (board.problem(subject)) resolveStatus(subject);
    }

    // A card's own mark: reading, saving, saved or failed.
    function cardState(cardId, key, params = {}, kind = '') {
        const mark = document.querySelector(`#${cardId} .state`);
        if (!mark) return;
        // Kept as key and values, so the mark follows a change of language.
        mark.textKey = key ? { key, params } : null;
        mark.textContent = key ? render(text(key, params), t) : '';
        mark.className = `state ${kind}`;
        clearTimeout(mark.timer);
        if (kind === 'ok') {
            mark.timer = setTimeout(() => {
                mark.textContent = '';
                mark.textKey = null;
                mark.className = 'state';
            }, 4000);
        }
    }

    // Runs one change: the card and the status bar show it being written, then its outcome,
    // which replaces whatever the card's last change left in the status bar.
    async function change(cardId, work, okKey, okParams = {}) {
        cardState(cardId, 'state.saving', {}, 'busy');
        setStatus('status.saving', {}, 'busy', cardId);
        try {
            const result = await work();
            cardState(cardId, 'state.saved', {}, 'ok');
            setStatus(okKey, typeof okParams === 'function' ? okParams(result) : okParams, 'ok', cardId);
            return true;
        } catch (error) {
            cardState(cardId, failureMark(error), {}, 'error');
            report(cardId, failureStatus(error), failureArea(error) === 'partial' ? 'warn' : 'error');
            return false;
        }
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
        // Only the read's own marks go: the outcome of a change stays until the next one.
        const mark = card.querySelector('.state');
        if (['state.readFailed', 'state.reading'].includes(mark?.textKey?.key)) cardState(cardId, '');
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
        statusKey: () => board.shown()?.message.key ?? null,
        // The status bar and the notes again, in the current language.
        repeatStatus() {
            showStatus();
            for (const mark of document.querySelectorAll('.card .state')) {
                if (mark.textKey) mark.textContent = render(text(mark.textKey.key, mark.textKey.params), t);
            }
        },
        // The note element `id` shows the standing problem of `subject`.
        noteFor(subject, id) {
            notes.set(subject, id);
        },
        errorText,
        render: (value) => render(value, t),
        setStatus,
        report,
        resolveStatus,
        clearProblem,
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
