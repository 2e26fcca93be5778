// The buttons tab: a picture of the mouse with its buttons numbered, what each button does,
// and the editor that gives a button a new function, a software macro included.

import { checkAssignment, CLICK_CODES, keepsLeftClick, nameOf, orderCombination, slotsInUse } from './buttons.js';
import { keyNameForCode, readCombination } from './keys.js';
import { fillRovingList, hookRovingList } from './listnav.js';
import { checkMacro } from './macro.js';
import { BUTTONS, buttonById, DPI_FUNCTION, MOUSE } from './model.js';
import { createMousePicture } from './mouse-picture.js';
import { el, fillSelect } from './page.js';
import { failureReason } from './status.js';

// renderAssignTargets and updateSlotUsage belong to the macros card: its editor lists the
// buttons, and an assignment can take or free a macro slot.
export function startButtonsCard(page, { reread, renderAssignTargets, updateSlotUsage }) {
    const { state, $, t, errorText, change, problem, partError, partOk, keyLabel, macroByName, deviceMacroName,
        effectiveAssignment, currentAssignments, storeKeyMap } = page;
    let selectedButton = null;
    const picture = createMousePicture(BUTTONS, (id) => selectButton(id));
    $('mouse-picture').append(picture.svg);
    page.noteFor('card-button-editor', 'assign-error');

    function describeAssignment(assignment) {
        if (assignment === undefined) return t('state.reading');
        if (assignment instanceof Error) return t('read.failed', { error: errorText(assignment) });
        switch (assignment.kind) {
            case 'none': return t('kind.none');
            case 'mouse': return `${t('kind.mouse')}: ${t(`mouse.${nameOf(MOUSE, assignment.code) ?? 'left'}`)}`;
            case 'dpi': return `${t('kind.dpi')}: ${t(`dpiFunction.${nameOf(DPI_FUNCTION, assignment.code) ?? 'up'}`, { dpi: assignment.dpi })}`;
            case 'special': return t(`special.${assignment.action}`);
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

    function renderButtons() {
        const buttons = state.settings.buttons;
        if (!buttons) return;
        const failed = BUTTONS.map((button) => buttons[button.id]).find((value) => value instanceof Error);
        if (failed) partError('card-buttons', failed, () => reread(['buttons']));
        else partOk('card-buttons');
        const rows = BUTTONS.map((button) => el('li', {
            class: `${selectedButton === button.id ? 'selected' : ''}`, id: `button-${button.id}`, role: 'option',
            'aria-selected': String(selectedButton === button.id), onclick: () => selectButton(button.id),
        }, el('span', { class: 'badge', text: String(button.id) }),
        el('span', { class: 'button-name', text: t(`button.${button.name}`) }),
        el('span', { class: 'assignment', text: describeAssignment(effectiveAssignment(button.id)) })));
        fillRovingList($('button-list'), rows, BUTTONS.findIndex((button) => button.id === selectedButton));
        picture.label(t('buttons.picture'), (id) => `${id} · ${t(`button.${buttonById(id).name}`)}`);
        picture.highlight(selectedButton);
        renderAssignTargets();
    }

    function fillKeySelects() {
        const keyNames = state.keys?.keyNames ?? [];
        fillSelect($('assign-key'), [...Object.keys(CLICK_CODES).map((name) => [`click:${name}`, t(`click.${name}`)]),
            ...keyNames.map((name) => [name, name])]);
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
        $('sniper-fields').hidden = Number($('assign-dpi').value) !== DPI_FUNCTION.sniper;
    }

    function selectButton(id) {
        // A refusal concerned the button it was for.
        if (id !== selectedButton) page.clearProblem('card-button-editor');
        selectedButton = id;
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
            if (kind === 'dpi') {
                $('assign-dpi').value = String(assignment.code);
                if (assignment.dpi !== undefined) $('assign-sniper-dpi').value = String(assignment.dpi);
            }
            if (kind === 'special') $('assign-special').value = assignment.action;
            if (kind === 'key') {
                $('assign-key').value = assignment.key;
                $('assign-repeat').value = String(assignment.repeat);
                $('assign-interval').value = String(assignment.interval);
            }
            if (kind === 'hotkey') $('assign-hotkey').value = assignment.keys.join('+');
            if (kind === 'macro') {
                const name = deviceMacroName(assignment);
                if (name) {
                    $('assign-macro').value = name;
                } else {
                    // A macro the mouse plays but the list lost (a damaged macro file): shown as
                    // what it is, never as an empty choice.
                    const held = el('option', { value: '', text: t('macro.deviceSlot', { slot: assignment.slot }) });
                    held.disabled = true;
                    $('assign-macro').prepend(held);
                    $('assign-macro').value = '';
                    held.selected = true;
                }
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

    // The assignment the editor shows; a combination that names no key is refused with the
    // name it could not find.
    function editorAssignment() {
        const kind = $('assign-kind').value;
        const int = (id) => (/^\d+$/.test($(id).value.trim()) ? Number($(id).value.trim()) : NaN);
        switch (kind) {
            case 'mouse': return { kind, code: Number($('assign-mouse').value) };
            case 'dpi': {
                const code = Number($('assign-dpi').value);
                return code === DPI_FUNCTION.sniper ? { kind, code, dpi: int('assign-sniper-dpi') } : { kind, code };
            }
            case 'special': return { kind, action: $('assign-special').value };
            case 'key': return { kind, key: $('assign-key').value, repeat: int('assign-repeat'), interval: int('assign-interval') };
            case 'hotkey': {
                const read = readCombination($('assign-hotkey').value, state.keys);
                if (read.error) throw problem(read.error.key, read.error.params);
                return { kind, keys: orderCombination(read.keys) };
            }
            case 'macro': return { kind, macro: $('assign-macro').value, loop: int('assign-loop') };
            case 'softmacro': return { kind, macro: $('assign-softmacro').value, playType: Number($('assign-playtype').value),
                playCount: int('assign-playcount') };
            default: return { kind: 'none' };
        }
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
                throw problem('button.softFailed', { error: failureReason(error) }, 'partial');
            }
        }
        return effectiveAssignment(id);
    }

    async function applyButtonEditor(event) {
        event?.preventDefault();
        const id = selectedButton;
        if (!id) return;
        await change('card-button-editor', () => assignButton(id, editorAssignment()), 'status.buttonSet',
            (held) => ({ n: id, what: describeAssignment(held) }));
        renderButtons();
        updateSlotUsage();
    }

    function restoreFactory() {
        const button = buttonById(selectedButton);
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

    hookRovingList($('button-list'), (index) => selectButton(BUTTONS[index].id));
    for (const id of ['assign-kind', 'assign-dpi']) {
        $(id).addEventListener('change', () => {
            showKindFields();
            page.clearProblem('card-button-editor');
        });
    }
    $('button-editor').addEventListener('submit', applyButtonEditor);
    $('assign-factory').addEventListener('click', restoreFactory);
    hookCombinationField();

    return {
        render: renderButtons,
        fillKeySelects,
        fillMacroSelects,
        describeAssignment,
        assignButton,
        // The editor's texts are in the current language once it shows its button again.
        reselect() {
            if (selectedButton) selectButton(selectedButton);
        },
    };
}
