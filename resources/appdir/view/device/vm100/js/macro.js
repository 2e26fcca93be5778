// Macros: the page's model (named lists of key presses, releases and delays), recording from
// key events, and the three texts the native side reads: the device macro's action text, the
// action text of playActions and the MACRO value of a key map; and the slot bytes read back.
//
// An action is { type: 'down' | 'up', key } or { type: 'delay', ms }. Keys are key-table
// names; the mouse buttons are the table's names for them (左键, 右键).

import { MACRO_SLOT_ITEMS } from './model.js';
import { MOUSE_BUTTON_NAMES, MOUSE_LEFT } from './keys.js';
import { list, text } from './status.js';

const PRESS = '按下';
const RELEASE = '弹起';
const DELAY = '延迟';

// A delay item holds at most 0xfff ms; longer waits become several items.
export const MAX_DELAY_ITEM_MS = 4095;
export const MAX_DELAY_MS = 60000;
export const LOOP = { min: 1, max: 255 };
export const NAME_MAX = 40;

export function isMouseKey(key) {
    return MOUSE_BUTTON_NAMES.includes(key);
}

// A key as the user reads it: key names are shown as they are, the mouse buttons in words.
function keyText(key) {
    if (!isMouseKey(key)) return key;
    return text(key === MOUSE_LEFT ? 'mouse.left' : 'mouse.right');
}

// Records presses and releases with the time between them. Auto-repeat and releases of keys
// held before the recording began are left out; keys still held at the end are released.
export function createRecorder({ withDelays = true } = {}) {
    const actions = [];
    const held = [];
    let last = null;
    const delayTo = (time) => {
        if (withDelays && last !== null) {
            const ms = Math.min(MAX_DELAY_MS, Math.max(0, Math.round(time - last)));
            if (ms > 0) actions.push({ type: 'delay', ms });
        }
        last = time;
    };
    return {
        press(key, time) {
            if (!key || held.includes(key)) return false;
            delayTo(time);
            held.push(key);
            actions.push({ type: 'down', key });
            return true;
        },
        release(key, time) {
            const at = held.indexOf(key);
            if (at < 0) return false;
            delayTo(time);
            held.splice(at, 1);
            actions.push({ type: 'up', key });
            return true;
        },
        get actions() {
            return actions.map((action) => ({ ...action }));
        },
        stop() {
            while (held.length) actions.push({ type: 'up', key: held.pop() });
            return this.actions;
        },
    };
}

// Problems that keep a macro from being stored or played; text keys with their values.
export function checkMacro(macro, keys, { forDevice = false, forSoftware = false } = {}) {
    const problems = [];
    const name = String(macro?.name ?? '').trim();
    if (!name) problems.push({ key: 'macro.noName' });
    else if (name.length > NAME_MAX) problems.push({ key: 'macro.nameTooLong', params: { max: NAME_MAX } });
    const actions = macro?.actions ?? [];
    if (!actions.some((action) => action.type !== 'delay')) problems.push({ key: 'macro.empty' });
    const down = new Set();
    actions.forEach((action, index) => {
        const at = index + 1;
        if (action.type === 'delay') {
            if (!Number.isInteger(action.ms) || action.ms < 1 || action.ms > MAX_DELAY_MS) {
                problems.push({ key: 'macro.badDelay', params: { at, max: MAX_DELAY_MS } });
            }
        } else if (action.type === 'down' || action.type === 'up') {
            if (!keys.has(action.key)) problems.push({ key: 'macro.unknownKey', params: { at, key: action.key } });
            if (forSoftware && isMouseKey(action.key)) problems.push({ key: 'macro.mouseInSoftware', params: { at } });
            if (action.type === 'down') down.add(action.key);
            else down.delete(action.key);
        } else {
            problems.push({ key: 'macro.badAction', params: { at } });
        }
    });
    if (down.size) problems.push({ key: 'macro.keyLeftDown', params: { keys: list([...down].map(keyText)) } });
    if (forDevice) {
        const items = deviceItemCount(actions);
        if (items > MACRO_SLOT_ITEMS) problems.push({ key: 'macro.tooLong', params: { items, max: MACRO_SLOT_ITEMS } });
    }
    return problems;
}

function delayChunks(ms) {
    const chunks = [];
    for (let rest = ms; rest > 0; rest -= MAX_DELAY_ITEM_MS) chunks.push(Math.min(rest, MAX_DELAY_ITEM_MS));
    return chunks;
}

// Slot items the device macro takes: three per action (long delays split), three for the end.
export function deviceItemCount(actions) {
    let count = 3;
    for (const action of actions) count += 3 * (action.type === 'delay' ? delayChunks(action.ms).length : 1);
    return count;
}

// writeDevicesProp TYPE "macro": 按下(A)延迟(50)弹起(A), the mouse buttons as 按下(左键).
export function deviceActionText(actions) {
    return actions.map((action) => {
        if (action.type === 'delay') return delayChunks(action.ms).map((ms) => `${DELAY}(${ms})`).join('');
        return `${action.type === 'down' ? PRESS : RELEASE}(${action.key})`;
    }).join('');
}

// playActions: the mouse buttons are their own words (按下左键()).
export function playActionText(actions) {
    return actions.map((action) => {
        if (action.type === 'delay') return `${DELAY}(${action.ms})`;
        if (isMouseKey(action.key)) {
            const side = action.key === MOUSE_LEFT ? '左键' : '右键';
            return `${action.type === 'down' ? PRESS : RELEASE}${side}()`;
        }
        return `${action.type === 'down' ? PRESS : RELEASE}(${action.key})`;
    }).join('');
}

// A key map's MACRO task plays keys and delays only.
export function keyMapActionText(actions) {
    return deviceActionText(actions.filter((action) => action.type === 'delay' || !isMouseKey(action.key)));
}

// A stored device macro: 0x84 key down, 0x04 key up, 0x81 / 0x01 mouse down / up, each with its
// code and 0; 0x06 delay low, high; 0x07 loop count, 0 ends it. Null when the bytes are not one.
export function decodeDeviceMacro(bytes, keys) {
    const actions = [];
    for (let i = 0; i + 2 < bytes.length; i += 3) {
        const [op, a, b] = [bytes[i], bytes[i + 1], bytes[i + 2]];
        if (op === 0x07) return { actions, loop: a };
        let key;
        switch (op) {
            case 0x84:
            case 0x04:
                key = keys.name(a);
                if (!key) return null;
                actions.push({ type: op === 0x84 ? 'down' : 'up', key });
                break;
            case 0x81:
            case 0x01:
                key = keys.mouseName(a);
                if (!key) return null;
                actions.push({ type: op === 0x81 ? 'down' : 'up', key });
                break;
            case 0x06: {
                const ms = a | (b << 8);
                const previous = actions[actions.length - 1];
                // A long wait was written as several delay items.
                if (previous?.type === 'delay' && previous.ms % MAX_DELAY_ITEM_MS === 0) previous.ms += ms;
                else actions.push({ type: 'delay', ms });
                break;
            }
            default:
                return null;
        }
    }
    return null;
}

// The macro's size in the mouse's macro memory against the memory a slot has, as the editor's
// meter shows it while the macro is edited.
export function macroMeter(actions, max = MACRO_SLOT_ITEMS) {
    const used = deviceItemCount(actions);
    return { used, max, over: used > max, fill: Math.min(1, used / max) };
}

// Whether leaving the editor would lose something. draft: { name (as typed), actions,
// initialName }; stored: the library's macro, or null for one not yet saved, which counts as
// changed once it has actions or a name of the user's.
export function hasUnsavedChanges(draft, stored) {
    if (!draft) return false;
    const name = String(draft.name ?? '').trim();
    if (!stored) return draft.actions.length > 0 || name !== draft.initialName;
    return name !== stored.name || !sameActions(draft.actions, stored.actions);
}

export function sameActions(a, b) {
    return a.length === b.length && a.every((action, i) => action.type === b[i].type
        && action.key === b[i].key && action.ms === b[i].ms);
}

// A name not yet in the list: "Macro 3".
export function freeName(base, names) {
    const taken = new Set(names);
    for (let i = 1; ; i++) {
        const name = `${base} ${i}`;
        if (!taken.has(name)) return name;
    }
}
