// Key names and codes from the key-definition file (the same names the native side turns into
// codes), macro slot addresses from it, and the names of the keys a user presses in the page.

import { parseFragment } from '../../../../template/default/js/xml.js';

export const MOUSE_LEFT = '左键';
export const MOUSE_RIGHT = '右键';
export const MOUSE_BUTTON_NAMES = [MOUSE_LEFT, MOUSE_RIGHT];
export const MODIFIERS = ['CTRL', 'SHIFT', 'ALT', 'WIN', 'RCTRL', 'RSHIFT', 'RALT', 'RWIN'];

// The queryProfile answers for /keyboard/key and /keyboard/macro.
export function parseKeyTable(keysText, macrosText = '') {
    const names = [];
    const codeByName = new Map();
    const nameByCode = new Map();
    for (const node of parseFragment(keysText)) {
        const { name, hidCode } = node.attrs;
        if (node.name !== 'key' || !name || !/^0x[0-9a-fA-F]{1,2}$/.test(hidCode ?? '')) continue;
        const code = parseInt(hidCode, 16);
        if (codeByName.has(name)) continue;
        names.push(name);
        codeByName.set(name, code);
        // The mouse buttons share codes with nothing on the keyboard side of a macro.
        if (!MOUSE_BUTTON_NAMES.includes(name) && !nameByCode.has(code)) nameByCode.set(code, name);
    }
    const slots = [];
    for (const node of parseFragment(macrosText)) {
        const match = /^macro(\d+)$/.exec(node.attrs.name ?? '');
        const address = /^0x[0-9a-fA-F]+$/.test(node.attrs.code ?? '') ? parseInt(node.attrs.code, 16) : NaN;
        if (node.name === 'macro' && match && Number.isFinite(address)) slots[Number(match[1])] = address;
    }
    return {
        names,
        keyNames: names.filter((name) => !MOUSE_BUTTON_NAMES.includes(name)),
        has: (name) => codeByName.has(name),
        code: (name) => codeByName.get(name),
        name: (code) => nameByCode.get(code),
        mouseName: (code) => MOUSE_BUTTON_NAMES.find((name) => codeByName.get(name) === code),
        slotAddress: (slot) => slots[slot],
        slotOfAddress: (address) => slots.indexOf(address),
        slotCount: slots.filter((address) => address !== undefined).length,
    };
}

const SPECIAL = {
    Enter: 'ENTER', NumpadEnter: 'ENTER', Escape: 'ESC', Backspace: 'BACKSPACE', Tab: 'TAB', Space: 'SPACE',
    Minus: '-', Equal: '=', BracketLeft: '[', BracketRight: ']', Backslash: '\\', Semicolon: ';',
    Quote: "'", Backquote: '`', Comma: ',', Period: '.', Slash: '/', CapsLock: 'CAPSLOCK',
    PrintScreen: 'PRINTSCREEN', ScrollLock: 'SCROLLLOCK', Pause: 'PAUSE', Insert: 'INSERT', Home: 'HOME',
    PageUp: 'PAGEUP', Delete: 'DELETE', End: 'END', PageDown: 'PAGEDOWN', ArrowRight: 'RIGHT',
    ArrowLeft: 'LEFT', ArrowDown: 'DOWN', ArrowUp: 'UP', NumLock: 'NUMLOCK',
    ControlLeft: 'CTRL', ShiftLeft: 'SHIFT', AltLeft: 'ALT', MetaLeft: 'WIN', OSLeft: 'WIN',
    ControlRight: 'RCTRL', ShiftRight: 'RSHIFT', AltRight: 'RALT', MetaRight: 'RWIN', OSRight: 'RWIN',
};

// The key name for a KeyboardEvent.code (the physical key, whatever the keyboard layout), or
// null for keys the device cannot send.
export function keyNameForCode(code) {
    const text = String(code ?? '');
    let match;
    if ((match = /^Key([A-Z])$/.exec(text))) return match[1];
    if ((match = /^(?:Digit|Numpad)([0-9])$/.exec(text))) return match[1];
    if ((match = /^F([1-9]|1[0-2])$/.exec(text))) return text;
    return SPECIAL[text] ?? null;
}

// A key combination typed as text ("ctrl + c") in the table's names, or why it is none: an
// empty field, a name that is no key, a mouse button, or a key given twice.
export function readCombination(text, table) {
    const parts = String(text ?? '').split('+').map((part) => part.trim()).filter(Boolean);
    if (!parts.length) return { error: { key: 'button.noKey' } };
    const keys = [];
    for (const part of parts) {
        const name = table.has(part) ? part : part.toUpperCase();
        if (MOUSE_BUTTON_NAMES.includes(name)) return { error: { key: 'button.mouseInCombination', params: { name } } };
        if (!table.has(name)) return { error: { key: 'button.unknownKeyName', params: { name: part } } };
        if (keys.includes(name)) return { error: { key: 'button.repeatedKey', params: { name } } };
        keys.push(name);
    }
    return { keys };
}

// The same, null when the text is no combination.
export function parseCombination(text, table) {
    return readCombination(text, table).keys ?? null;
}
