// The macros tab: the macro library, the editor that records and edits one macro, and the
// mouse's macro storage. Edits are never dropped without asking: leaving the editor with
// unsaved changes, and deleting a macro, ask first.

import { buttonsUsingMacro, slotsInUse } from './buttons.js';
import { keyNameForCode, MOUSE_BUTTON_NAMES } from './keys.js';
import { fillRovingList, hookRovingList } from './listnav.js';
import { patchRows } from './listpatch.js';
import { checkMacro, createRecorder, freeName, hasUnsavedChanges, MAX_DELAY_MS, macroMeter, playActionText, sameActions }
    from './macro.js';
import { BUTTONS, MACRO_LIBRARY } from './model.js';
import { el, fillSelect } from './page.js';
import { keptDamagedCopy, parseMacroLibrary } from './profile.js';
import { failureReason, list, text } from './status.js';

const EDITOR = 'card-macro-editor';

// buttons: the buttons card, which assigns macros and lists them in its editor.
// ask: the page's confirm dialog.
export function startMacrosCard(page, buttons, { ask }) {
    const { bridge, state, $, t, setStatus, report, cardState, change, keyLabel, macroByName, deviceMacroName,
        effectiveAssignment, storeMacros, storeKeyMap } = page;
    const { assignButton, describeAssignment, fillMacroSelects, render: renderButtons } = buttons;
    let selectedMacro = null;
    let damagedCopy = null;  // where a damaged macro file was kept, once found
    // The macro being edited: its actions, whether it is stored yet, and the name it was given
    // when a new one was started.
    let draft = null;
    let recorder = null;
    let recordBase = null;
    let recorded = [];
    // The actions the table's rows show, in order.
    let shownActions = [];
    let slotsUsed = null;
    // What the slot line says: null before a read, 'noAnswer', or { used, total }.
    let slotUsage = null;

    page.noteFor(EDITOR, 'macro-error');

    async function loadMacros() {
        try {
            const answer = await bridge.call('queryProfile', { filePath: MACRO_LIBRARY, xpath: '/macros' });
            const { macros, problems } = parseMacroLibrary(answer, state.keys);
            state.macros = macros;
            if (problems.length) setStatus('status.macrosSkipped', { count: problems.length }, 'warn', 'macro-library');
        } catch (error) {
            state.macros = [];
            // No library yet: the first saved macro makes it. A damaged one the program has
            // kept aside, and the user hears where.
            if (error?.kind !== 'failed') {
                cardState('card-macro-list', 'read.failed', { error: failureReason(error) }, 'error');
            } else {
                const kept = await keptDamagedCopy(bridge, MACRO_LIBRARY);
                damagedCopy = kept;
                if (kept) setStatus('status.macrosDamaged', { file: kept }, 'warn', 'macro-library');
            }
        }
        renderMacroList();
    }

    function fillKeySelects() {
        const keyNames = state.keys?.keyNames ?? [];
        const macroKeys = state.keys ? [...keyNames, ...MOUSE_BUTTON_NAMES.filter((name) => state.keys.has(name))] : [];
        fillSelect($('add-key'), macroKeys.map((name) => [name, keyLabel(name)]), $('add-key').value || 'A');
    }

    function renderMacroList() {
        const rows = state.macros.map((macro) => el('li', {
            role: 'option', 'aria-selected': String(selectedMacro === macro.name),
            class: selectedMacro === macro.name ? 'selected' : '', onclick: () => openMacro(macro.name),
        }, el('span', { class: 'macro-name', text: macro.name }),
        el('span', { class: 'muted small', text: t('macros.count', { n: macro.actions.length }) })));
        // An empty list says why when the file was damaged: later messages take the status bar.
        const none = damagedCopy ? t('status.macrosDamaged', { file: damagedCopy }) : t('macros.none');
        const empty = state.macros.length ? [] : [el('li', { class: 'muted empty', text: none })];
        fillRovingList($('macro-list'), rows, state.macros.findIndex((macro) => macro.name === selectedMacro), empty);
        renderSlotUsage();
        fillMacroSelects();
        renderButtons();
    }

    function isDirty() {
        if (!draft) return false;
        return hasUnsavedChanges({ name: $('macro-name').value, actions: draft.actions, initialName: draft.initialName },
            draft.isNew ? null : macroByName(selectedMacro));
    }

    // Asks before unsaved changes are dropped; true when the editor may be left. Discarded
    // changes are gone: the editor shows the stored macro again.
    async function confirmLeave() {
        stopRecording();
        if (!isDirty()) return true;
        const name = $('macro-name').value.trim() || draft.initialName;
        const discard = await ask({ title: t('confirm.unsavedTitle'), message: t('confirm.unsavedText', { name }),
            confirm: t('confirm.discard'), cancel: t('confirm.keepEditing'), danger: true });
        // Kept: the user stays where they were, edits and all.
        if (!discard) return false;
        if (draft.isNew) closeEditor();
        else editMacro(selectedMacro);
        return true;
    }

    async function openMacro(name) {
        // The macro already open stays as it is, edits included.
        if (draft && !draft.isNew && name === selectedMacro) return;
        if (await confirmLeave()) editMacro(name);
    }

    function editMacro(name) {
        stopRecording();
        const macro = macroByName(name);
        selectedMacro = macro ? macro.name : null;
        const initialName = macro ? macro.name : freeName(t('macro.defaultName'), state.macros.map((known) => known.name));
        draft = { initialName, actions: macro ? macro.actions.map((action) => ({ ...action })) : [], isNew: !macro };
        $('macro-editor').hidden = false;
        $('macro-empty').hidden = true;
        $('macro-name').value = initialName;
        // A problem of the macro shown before is not one of this macro.
        page.clearProblem(EDITOR);
        renderDraft();
        renderMacroList();
    }

    function closeEditor() {
        stopRecording();
        selectedMacro = null;
        draft = null;
        shownActions = [];
        $('macro-editor').hidden = true;
        $('macro-empty').hidden = false;
        page.clearProblem(EDITOR);
        renderMacroList();
    }

    // The editor's key list, for one row of the action table.
    function keySelect(action) {
        const select = $('add-key').cloneNode(true);
        select.removeAttribute('id');
        select.hidden = false;
        if (![...select.options].some((option) => option.value === action.key)) {
            select.append(el('option', { value: action.key, text: keyLabel(action.key) }));
        }
        select.value = action.key;
        select.addEventListener('change', () => {
            action.key = select.value;
            renderDraftInfo();
        });
        return select;
    }

    function actionRow(action, index) {
        const valueField = action.type === 'delay'
            ? el('input', { type: 'number', min: '1', max: String(MAX_DELAY_MS), value: String(action.ms), class: 'ms',
                // The meter follows each keystroke: long delays take more of the memory.
                oninput: (event) => { action.ms = Number(event.target.value); renderDraftInfo(); } })
            : keySelect(action);
        // Positions are looked up when a button is used: rows stay while others come and go.
        const move = (delta) => () => {
            const at = draft.actions.indexOf(action);
            const to = at + delta;
            if (at < 0 || to < 0 || to >= draft.actions.length) return;
            const actions = [...draft.actions];
            [actions[at], actions[to]] = [actions[to], actions[at]];
            draft.actions = actions;
            syncRows();
        };
        const remove = () => {
            draft.actions = draft.actions.filter((candidate) => candidate !== action);
            syncRows();
        };
        return el('tr', { class: `action-${action.type}` },
            el('td', { class: 'muted', text: String(index + 1) }),
            el('td', { text: t(`action.${action.type}`) }),
            el('td', {}, valueField),
            el('td', { class: 'row-buttons' },
                el('button', { text: '↑', title: t('macro.moveUp'), 'aria-label': t('macro.moveUp'), onclick: move(-1) }),
                el('button', { text: '↓', title: t('macro.moveDown'), 'aria-label': t('macro.moveDown'), onclick: move(1) }),
                el('button', { text: '✕', title: t('macro.remove'), 'aria-label': t('macro.remove'), class: 'danger', onclick: remove })));
    }

    // Draws every row again: a macro opened, or the language changed.
    function renderDraft() {
        if (!draft) return;
        shownActions = [];
        $('macro-actions').replaceChildren();
        syncRows();
    }

    // Brings the rows in line with the draft, touching only the rows that changed.
    function syncRows() {
        const body = $('macro-actions');
        if (!shownActions.length) body.replaceChildren();
        if (draft.actions.length) {
            patchRows(body, shownActions, draft.actions, actionRow, (row, i) => { row.firstChild.textContent = String(i + 1); });
        } else {
            body.replaceChildren(el('tr', {}, el('td', { colspan: '4', class: 'muted', text: t('macro.noActions') })));
        }
        shownActions = [...draft.actions];
        renderDraftInfo();
    }

    function renderDraftInfo() {
        const total = draft.actions.filter((action) => action.type === 'delay').reduce((sum, action) => sum + (action.ms || 0), 0);
        $('macro-info').textContent = t('macro.info', { actions: draft.actions.length, ms: total });
        const meter = macroMeter(draft.actions);
        $('macro-meter').classList.toggle('over', meter.over);
        $('macro-meter-fill').style.width = `${(meter.fill * 100).toFixed(1)}%`;
        $('macro-meter-text').textContent = t('macro.meter', { used: meter.used, max: meter.max });
        // Too long for a slot: the software can still play it, but a button that plays it from
        // the mouse could not take the new version, so then it is not saved.
        const blocked = meter.over && playedFromMouse(draft.isNew ? null : selectedMacro);
        const params = { items: meter.used, max: meter.max };
        const reason = meter.over ? t(blocked ? 'macro.tooLongToSave' : 'macro.softwareOnly', params) : '';
        $('macro-meter-reason').textContent = reason;
        $('macro-meter-reason').hidden = !meter.over;
        $('macro-save').disabled = blocked;
        $('macro-save').title = blocked ? reason : '';
        $('macro-unsaved').hidden = !isDirty();
    }

    function playedFromMouse(name) {
        return name !== null && BUTTONS.some((button) => {
            const assignment = effectiveAssignment(button.id);
            return assignment?.kind === 'macro' && deviceMacroName(assignment) === name;
        });
    }

    function draftMacro() {
        return { name: $('macro-name').value.trim(), actions: draft.actions.map((action) => ({ ...action })) };
    }

    function problemsText(problems) {
        return list(problems.map((item) => text(item.key, item.params)), { long: true });
    }

    // Keys and clicks recorded so far follow the actions the macro had before the recording.
    function takeRecorded(actions) {
        recorded.push(...actions.slice(recorded.length));
        draft.actions = [...recordBase, ...recorded];
        syncRows();
    }

    function recordKey(event, pressed) {
        if (!recorder) return;
        const name = keyNameForCode(event.code);
        event.preventDefault();
        if (!name || (pressed && event.repeat)) return;
        const took = pressed ? recorder.press(name, event.timeStamp) : recorder.release(name, event.timeStamp);
        if (took) takeRecorded(recorder.actions);
    }

    function recordMouse(event, pressed) {
        if (!recorder || (event.button !== 0 && event.button !== 2)) return;
        const name = MOUSE_BUTTON_NAMES[event.button === 0 ? 0 : 1];
        if (!state.keys?.has(name)) return;
        event.preventDefault();
        const took = pressed ? recorder.press(name, event.timeStamp) : recorder.release(name, event.timeStamp);
        if (took) takeRecorded(recorder.actions);
    }

    function startRecording() {
        recorder = createRecorder({ withDelays: $('macro-with-delays').checked });
        recordBase = draft.actions;
        recorded = [];
        $('macro-record').textContent = t('macro.stop');
        $('macro-record').classList.add('recording');
        $('record-pad').classList.add('recording');
        $('record-pad').textContent = t('macro.recording');
        $('record-pad').focus();
        setStatus('status.recording', {}, 'busy', EDITOR);
    }

    function stopRecording() {
        if (!recorder) return;
        const rest = recorder.stop();
        recorder = null;
        $('macro-record').textContent = t('macro.record');
        $('macro-record').classList.remove('recording');
        $('record-pad').classList.remove('recording');
        $('record-pad').textContent = t('macro.recordPad');
        takeRecorded(rest);
        setStatus('status.recorded', { n: draft.actions.length }, 'ok', EDITOR);
    }

    function addAction() {
        const type = $('add-type').value;
        if (type === 'delay') {
            const value = $('add-ms').value.trim();
            const ms = /^\d+$/.test(value) ? Number(value) : NaN;
            if (!(ms >= 1 && ms <= MAX_DELAY_MS)) {
                $('add-ms').classList.add('invalid');
                report(EDITOR, text('status.notAdded', { error: text('macro.delayRange', { max: MAX_DELAY_MS }) }), 'error');
                return;
            }
            $('add-ms').classList.remove('invalid');
            draft.actions = [...draft.actions, { type, ms }];
        } else {
            draft.actions = [...draft.actions, { type, key: $('add-key').value }];
        }
        page.clearProblem(EDITOR);
        syncRows();
        $('macro-actions').lastElementChild?.scrollIntoView({ block: 'nearest' });
    }

    async function saveMacro() {
        stopRecording();
        const macro = draftMacro();
        const oldName = draft.isNew ? null : selectedMacro;
        const problems = checkMacro(macro, state.keys, { forDevice: playedFromMouse(oldName) });
        if (macro.name !== oldName && macroByName(macro.name)) problems.unshift({ key: 'macro.nameTaken' });
        if (problems.length) {
            cardState(EDITOR, 'state.notSaved', {}, 'error');
            report(EDITOR, text('status.notSaved', { error: problemsText(problems) }), 'error');
            return;
        }
        const previous = oldName ? macroByName(oldName) : null;
        const macros = state.macros.filter((known) => known.name !== oldName);
        const at = state.macros.findIndex((known) => known.name === oldName);
        macros.splice(at < 0 ? macros.length : at, 0, macro);
        const ok = await change(EDITOR, async () => {
            await storeMacros(macros);
            // Buttons playing the macro play the new version.
            if (previous) await refreshMacroUsers(previous, macro);
        }, 'status.macroSaved', { name: macro.name });
        // The library holds the macro once storeMacros went through, even when a button
        // could not be brought up to date.
        if (ok || macroByName(macro.name)) {
            selectedMacro = macro.name;
            draft.isNew = false;
            draft.initialName = macro.name;
        }
        renderMacroList();
        renderDraftInfo();
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

    function macroUsers(name) {
        return buttonsUsingMacro(name, BUTTONS.map((button) => ({ button, assignment: effectiveAssignment(button.id) })),
            (assignment) => deviceMacroName(assignment));
    }

    async function deleteMacro() {
        stopRecording();
        const name = selectedMacro;
        if (!name) {
            // A macro never saved: deleting drops the draft, after asking when it holds work.
            if (await confirmLeave()) closeEditor();
            return;
        }
        const users = macroUsers(name);
        if (users.length) {
            cardState(EDITOR, 'state.notApplied', {}, 'error');
            report(EDITOR, text('status.notDeleted', { error: text('macro.inUseBy', {
                name, buttons: list(users.map((button) => text(`button.${button.name}`))),
            }) }), 'error');
            return;
        }
        const sure = await ask({ title: t('confirm.deleteTitle'), message: t('confirm.deleteText', { name }),
            confirm: t('confirm.delete'), cancel: t('confirm.cancel'), danger: true });
        if (!sure) return;
        const ok = await change(EDITOR, () => storeMacros(state.macros.filter((macro) => macro.name !== name)),
            'status.macroDeleted', { name });
        if (ok) closeEditor();
        else renderMacroList();
    }

    function testMacro() {
        stopRecording();
        const macro = draftMacro();
        const problems = checkMacro({ ...macro, name: macro.name || 'test' }, state.keys);
        if (problems.length) {
            report(EDITOR, text('status.notPlayed', { error: problemsText(problems) }), 'error');
            return;
        }
        // playActions gives no answer; the input engine plays what it can.
        bridge.send('playActions', { actionList: playActionText(macro.actions) });
        setStatus('status.macroPlayed', { name: macro.name || draft.initialName }, 'ok', EDITOR);
    }

    function renderAssignTargets() {
        const select = $('macro-assign-button');
        const value = select.value;
        fillSelect(select, BUTTONS.map((button) => [String(button.id), `${button.id} · ${t(`button.${button.name}`)}`]), value || '4');
    }

    async function assignFromEditor() {
        const name = selectedMacro;
        // A button gets the stored macro, so what is shown must be stored first.
        if (!name || draft?.isNew || isDirty()) {
            report(EDITOR, text('status.notApplied', { error: text('macro.saveFirst') }), 'error');
            return;
        }
        const id = Number($('macro-assign-button').value);
        const mode = $('macro-assign-mode').value;
        const assignment = mode === 'macro' ? { kind: 'macro', macro: name, loop: 1 } : { kind: 'softmacro', macro: name, playType: 0, playCount: 1 };
        await change(EDITOR, () => assignButton(id, assignment), 'status.buttonSet',
            (held) => ({ n: id, what: describeAssignment(held) }));
        renderButtons();
        updateSlotUsage();
    }

    function renderSlotUsage() {
        let line = t('macros.slotsUnread');
        if (slotUsage === 'noAnswer') line = t('macros.slotsNoAnswer');
        else if (slotUsage) line = t('macros.slotUsage', slotUsage);
        $('slot-usage').textContent = line;
    }

    async function updateSlotUsage() {
        if (!state.api || !state.keys?.slotCount) return;
        const results = await Promise.all(Array.from({ length: state.keys.slotCount },
            (_, slot) => state.api.slotIsEmpty(slot).then((empty) => !empty, () => null)));
        if (results.includes(null)) {
            slotUsage = 'noAnswer';
        } else {
            slotUsage = { used: results.filter(Boolean).length, total: results.length };
            slotsUsed = results;
        }
        renderSlotUsage();
    }

    async function freeSlots() {
        const assigned = state.settings.buttons ?? {};
        if (Object.values(assigned).some((value) => value === undefined || value instanceof Error)) {
            report('card-macro-list', text('status.notApplied', { error: text('macros.buttonsUnknown') }), 'error');
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

    hookRovingList($('macro-list'), (index) => openMacro(state.macros[index].name));
    $('macro-new').addEventListener('click', async () => {
        if (await confirmLeave()) editMacro(null);
    });
    $('macro-name').addEventListener('input', () => { if (draft) renderDraftInfo(); });
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
    $('add-ms').addEventListener('input', () => $('add-ms').classList.remove('invalid'));
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
        confirmLeave,
    };
}
