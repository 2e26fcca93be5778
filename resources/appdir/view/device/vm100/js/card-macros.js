// The macros tab: the macro library, the editor that records and edits one macro, and the
// mouse's macro storage.

import { slotsInUse } from './buttons.js';
import { keyNameForCode, MOUSE_BUTTON_NAMES } from './keys.js';
import { checkMacro, createRecorder, deviceItemCount, freeName, playActionText, sameActions } from './macro.js';
import { BUTTONS, MACRO_LIBRARY, MACRO_SLOT_ITEMS } from './model.js';
import { el, fillSelect } from './page.js';
import { parseMacroLibrary } from './profile.js';

// buttons: the buttons card, which assigns macros and lists them in its editor.
export function startMacrosCard(page, buttons) {
    const { bridge, state, $, t, errorText, setStatus, cardState, change, keyLabel, macroByName, deviceMacroName,
        currentAssignments, storeMacros, storeKeyMap } = page;
    const { assignButton, describeAssignment, fillMacroSelects, render: renderButtons } = buttons;
    let selectedMacro = null;
    let draft = null;
    let recorder = null;
    let recordBase = null;
    let slotsUsed = null;

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

    function fillKeySelects() {
        const keyNames = state.keys?.keyNames ?? [];
        const macroKeys = state.keys ? [...keyNames, ...MOUSE_BUTTON_NAMES.filter((name) => state.keys.has(name))] : [];
        fillSelect($('add-key'), macroKeys.map((name) => [name, keyLabel(name)]), $('add-key').value || 'A');
    }

    function renderMacroList() {
        $('macro-list').replaceChildren(...state.macros.map((macro) => el('li', {
            class: selectedMacro === macro.name ? 'selected' : '', onclick: () => editMacro(macro.name),
        }, el('span', { text: macro.name }), el('span', { class: 'muted small', text: t('macros.count', { n: macro.actions.length }) }))));
        if (!state.macros.length) $('macro-list').append(el('li', { class: 'muted empty', text: t('macros.none') }));
        fillMacroSelects();
        renderButtons();
    }

    function editMacro(name) {
        stopRecording();
        const macro = macroByName(name);
        selectedMacro = macro ? macro.name : null;
        draft = macro ? { name: macro.name, actions: macro.actions.map((action) => ({ ...action })), isNew: false }
            : { name: freeName(t('macro.defaultName'), state.macros.map((known) => known.name)), actions: [], isNew: true };
        $('macro-editor').hidden = false;
        $('macro-empty').hidden = true;
        $('macro-name').value = draft.name;
        $('macro-error').textContent = '';
        renderDraft();
        renderMacroList();
    }

    function renderDraft() {
        if (!draft) return;
        const shown = draft;
        const rows = shown.actions.map((action, index) => {
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
                if (to < 0 || to >= shown.actions.length) return;
                [shown.actions[index], shown.actions[to]] = [shown.actions[to], shown.actions[index]];
                renderDraft();
            };
            return el('tr', { class: `action-${action.type}` },
                el('td', { class: 'muted', text: String(index + 1) }),
                el('td', { text: t(`action.${action.type}`) }),
                el('td', {}, valueField),
                el('td', { class: 'row-buttons' },
                    el('button', { text: '↑', title: t('macro.moveUp'), onclick: move(-1) }),
                    el('button', { text: '↓', title: t('macro.moveDown'), onclick: move(1) }),
                    el('button', { text: '✕', title: t('macro.remove'), class: 'danger', onclick: () => { shown.actions.splice(index, 1); renderDraft(); } })));
        });
        $('macro-actions').replaceChildren(...rows);
        if (!rows.length) $('macro-actions').append(el('tr', {}, el('td', { colspan: '4', class: 'muted', text: t('macro.noActions') })));
        renderDraftInfo();
    }

    function renderDraftInfo() {
        const total = draft.actions.filter((action) => action.type === 'delay').reduce((sum, action) => sum + (action.ms || 0), 0);
        $('macro-info').textContent = t('macro.info', { actions: draft.actions.length, ms: total,
            items: deviceItemCount(draft.actions), max: MACRO_SLOT_ITEMS });
    }

    function draftMacro() {
        return { name: $('macro-name').value.trim(), actions: draft.actions.map((action) => ({ ...action })) };
    }

    function recordKey(event, pressed) {
        if (!recorder) return;
        const name = keyNameForCode(event.code);
        event.preventDefault();
        if (!name || (pressed && event.repeat)) return;
        const took = pressed ? recorder.press(name, event.timeStamp) : recorder.release(name, event.timeStamp);
        if (took) {
            draft.actions = [...recordBase, ...recorder.actions];
            renderDraft();
        }
    }

    function recordMouse(event, pressed) {
        if (!recorder || (event.button !== 0 && event.button !== 2)) return;
        const name = MOUSE_BUTTON_NAMES[event.button === 0 ? 0 : 1];
        if (!state.keys?.has(name)) return;
        event.preventDefault();
        const took = pressed ? recorder.press(name, event.timeStamp) : recorder.release(name, event.timeStamp);
        if (took) {
            draft.actions = [...recordBase, ...recorder.actions];
            renderDraft();
        }
    }

    function startRecording() {
        recorder = createRecorder({ withDelays: $('macro-with-delays').checked });
        recordBase = draft.actions;
        $('macro-record').textContent = t('macro.stop');
        $('macro-record').classList.add('recording');
        $('record-pad').classList.add('recording');
        $('record-pad').textContent = t('macro.recording');
        $('record-pad').focus();
        setStatus('status.recording', {}, 'busy');
    }

    function stopRecording() {
        if (!recorder) return;
        draft.actions = [...recordBase, ...recorder.stop()];
        recorder = null;
        $('macro-record').textContent = t('macro.record');
        $('macro-record').classList.remove('recording');
        $('record-pad').classList.remove('recording');
        $('record-pad').textContent = t('macro.recordPad');
        setStatus('status.recorded', { n: draft.actions.length }, 'ok');
        renderDraft();
    }

    function addAction() {
        const type = $('add-type').value;
        if (type === 'delay') {
            const ms = Number($('add-ms').value);
            draft.actions.push({ type, ms: Number.isInteger(ms) ? ms : 0 });
        } else {
            draft.actions.push({ type, key: $('add-key').value });
        }
        renderDraft();
    }

    async function saveMacro() {
        stopRecording();
        const macro = draftMacro();
        const problems = checkMacro(macro, state.keys);
        const oldName = draft.isNew ? null : selectedMacro;
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
            selectedMacro = macro.name;
            draft.isNew = false;
            draft.name = macro.name;
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
        const name = selectedMacro;
        if (!name) {
            draft = null;
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
            selectedMacro = null;
            draft = null;
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
        const name = selectedMacro;
        if (!name || draft?.isNew) {
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
        slotsUsed = results;
    }

    async function freeSlots() {
        const assigned = state.settings.buttons ?? {};
        if (Object.values(assigned).some((value) => value === undefined || value instanceof Error)) {
            setStatus('status.buttonsUnknown', {}, 'error');
            return;
        }
        await updateSlotUsage();
        const used = slotsInUse(BUTTONS.map((button) => assigned[button.id]));
        const stale = (slotsUsed ?? []).map((inUse, slot) => (inUse && !used.has(slot) ? slot : -1)).filter((slot) => slot >= 0);
        await change('card-macro-list', async () => {
            for (const slot of stale) await state.api.clearSlot(slot);
            return stale.length;
        }, 'status.slotsFreed', (count) => ({ n: count }));
        updateSlotUsage();
    }

    $('macro-new').addEventListener('click', () => editMacro(null));
    $('macro-record').addEventListener('click', () => (recorder ? stopRecording() : startRecording()));
    // While recording every key goes to the macro, wherever the focus is.
    document.addEventListener('keydown', (event) => recordKey(event, true), true);
    document.addEventListener('keyup', (event) => recordKey(event, false), true);
    $('record-pad').addEventListener('mousedown', (event) => recordMouse(event, true));
    $('record-pad').addEventListener('mouseup', (event) => recordMouse(event, false));
    $('record-pad').addEventListener('contextmenu', (event) => { if (recorder) event.preventDefault(); });
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

    return {
        load: loadMacros,
        fillKeySelects,
        renderList: renderMacroList,
        renderDraft,
        renderAssignTargets,
        updateSlotUsage,
        stopRecording,
    };
}
