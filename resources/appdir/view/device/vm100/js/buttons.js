// Button assignments: what a button property holds, what the page shows, and the
// writeDevicesProp request that gives a button a new assignment.
//
// Property bytes: [function, a, b, c, ...]
//   0x00 unassigned; 0x01 mouse button a; 0x02 key combination a, b, c (one key: 0, key, 0);
//   0x03 DPI function a (1 up, 2 down, 3 cycle, 4 sniper at b | c << 8 steps of 50 DPI);
//   0x04 device macro in slot b, n = c items;
//   0x05 key a pressed b times, c ms apart (a = 0x81/0x82/0x84: left/right/middle click);
//   0x06 wheel a (1 up, 2 down).
// A double click is the left click pressed twice DOUBLE_CLICK_INTERVAL ms apart.

import { hexByte } from './bytes.js';
import { DPI_FUNCTION, DPI_MAX, DPI_MIN, DPI_STEP, KEY_DEFINITION_FILE, MOUSE, PROP, WHEEL } from './model.js';
import { MODIFIERS } from './keys.js';

export const FUNCTION = { none: 0x00, mouse: 0x01, hotkey: 0x02, dpi: 0x03, macro: 0x04, key: 0x05, wheel: 0x06 };
// gKey codes that stand for a mouse click instead of a key.
export const CLICK_CODES = { left: 0x81, right: 0x82, middle: 0x84 };
export const KEY_REPEAT = { min: 1, max: 255 };
export const KEY_INTERVAL = { min: 0, max: 255 };
export const DOUBLE_CLICK_INTERVAL = 40;
// Actions that need no further choice: the double click and the wheel.
export const SPECIAL_ACTIONS = ['doubleClick', 'wheelUp', 'wheelDown'];
// The bytes a button write covers: every assignment fits in the first four.
export const ASSIGNMENT_SIZE = 4;

// The name a code table gives `code`, or undefined.
export function nameOf(table, code) {
    return Object.keys(table).find((name) => table[name] === code);
}

const mouseCodes = Object.values(MOUSE);
const dpiCodes = Object.values(DPI_FUNCTION);
const wheelActions = { wheelUp: WHEEL.up, wheelDown: WHEEL.down };

export function decodeAssignment(bytes, keys) {
    const [fn, a = 0, b = 0, c = 0] = bytes;
    switch (fn) {
        case FUNCTION.none:
            return { kind: 'none' };
        case FUNCTION.mouse:
            return mouseCodes.includes(a) ? { kind: 'mouse', code: a } : { kind: 'unknown', bytes: bytes.slice(0, 4) };
        case FUNCTION.dpi:
            if (a === DPI_FUNCTION.sniper) return { kind: 'dpi', code: a, dpi: (b | (c << 8)) * DPI_STEP };
            return dpiCodes.includes(a) ? { kind: 'dpi', code: a } : { kind: 'unknown', bytes: bytes.slice(0, 4) };
        case FUNCTION.wheel: {
            const action = nameOf(wheelActions, a);
            return action ? { kind: 'special', action } : { kind: 'unknown', bytes: bytes.slice(0, 4) };
        }
        case FUNCTION.hotkey: {
            const names = [a, b, c].filter((code) => code !== 0).map((code) => keys.name(code));
            if (!names.length || names.includes(undefined)) return { kind: 'unknown', bytes: bytes.slice(0, 4) };
            return { kind: 'hotkey', keys: names };
        }
        case FUNCTION.macro:
            return { kind: 'macro', slot: b, length: c };
        case FUNCTION.key: {
            const click = nameOf(CLICK_CODES, a);
            const key = click ? `click:${click}` : keys.name(a);
            if (!key) return { kind: 'unknown', bytes: bytes.slice(0, 4) };
            if (key === 'click:left' && b === 2 && c === DOUBLE_CLICK_INTERVAL) return { kind: 'special', action: 'doubleClick' };
            return { kind: 'key', key, repeat: b, interval: c };
        }
        default:
            return { kind: 'unknown', bytes: bytes.slice(0, 4) };
    }
}

// Whether an assignment can be written, with the text key of the reason when it cannot.
export function checkAssignment(assignment, keys) {
    switch (assignment?.kind) {
        case 'none':
            return { ok: true };
        case 'mouse':
            return mouseCodes.includes(assignment.code) ? { ok: true } : { ok: false, error: 'button.badFunction' };
        case 'dpi':
            if (!dpiCodes.includes(assignment.code)) return { ok: false, error: 'button.badFunction' };
            if (assignment.code === DPI_FUNCTION.sniper) {
                const { dpi } = assignment;
                if (!Number.isInteger(dpi) || dpi < DPI_MIN || dpi > DPI_MAX || dpi % DPI_STEP) {
                    return { ok: false, error: 'dpi.range' };
                }
            }
            return { ok: true };
        case 'special':
            return SPECIAL_ACTIONS.includes(assignment.action) ? { ok: true } : { ok: false, error: 'button.badFunction' };
        case 'hotkey': {
            const list = assignment.keys ?? [];
            if (!list.length) return { ok: false, error: 'button.noKey' };
            if (list.length > 3) return { ok: false, error: 'button.tooManyKeys' };
            if (new Set(list).size !== list.length || !list.every((name) => keys.has(name))) {
                return { ok: false, error: 'button.unknownKey' };
            }
            return { ok: true };
        }
        case 'key': {
            const isClick = /^click:(left|right|middle)$/.test(assignment.key ?? '');
            if (!isClick && !keys.has(assignment.key)) return { ok: false, error: 'button.unknownKey' };
            const { repeat, interval } = assignment;
            if (!Number.isInteger(repeat) || repeat < KEY_REPEAT.min || repeat > KEY_REPEAT.max) {
                return { ok: false, error: 'button.repeatRange' };
            }
            if (!Number.isInteger(interval) || interval < KEY_INTERVAL.min || interval > KEY_INTERVAL.max) {
                return { ok: false, error: 'button.intervalRange' };
            }
            return { ok: true };
        }
        case 'macro':
        case 'softmacro':
            return assignment.macro ? { ok: true } : { ok: false, error: 'button.noMacro' };
        default:
            return { ok: false, error: 'button.badFunction' };
    }
}

function raw(bytes) {
    return { TYPE: 'mouseFunc', PARAMSIZE: ASSIGNMENT_SIZE, PARAMDATA: bytes.map(hexByte).join(',') };
}

// The writeDevicesProp members (besides the device's) for a button. A device macro carries its
// action text and loop count; its body goes to a free macro slot on the way.
export function assignmentRequest(buttonId, assignment, macroText = '', loop = 1) {
    if (buttonId < PROP.buttonFirst || buttonId > PROP.buttonLast) throw new RangeError(`no button ${buttonId}`);
    const base = { PARAMID: buttonId };
    switch (assignment.kind) {
        case 'none':
            return { ...base, ...raw([0, 0, 0, 0]) };
        case 'mouse':
        case 'softmacro':
            // A software macro is played by the input filter, which sees the button's own click.
            return { ...base, ...raw([FUNCTION.mouse, assignment.code, 0, 0]) };
        case 'dpi': {
            const steps = assignment.code === DPI_FUNCTION.sniper ? assignment.dpi / DPI_STEP : 0;
            return { ...base, ...raw([FUNCTION.dpi, assignment.code, steps & 0xff, steps >> 8]) };
        }
        case 'special':
            if (assignment.action === 'doubleClick') {
                return assignmentRequest(buttonId, { kind: 'key', key: 'click:left', repeat: 2, interval: DOUBLE_CLICK_INTERVAL });
            }
            return { ...base, ...raw([FUNCTION.wheel, wheelActions[assignment.action], 0, 0]) };
        case 'hotkey':
            return { ...base, TYPE: 'hotKey', PARAMSIZE: ASSIGNMENT_SIZE, PARAMDATA: assignment.keys.join('+'),
                DeviceVersion: KEY_DEFINITION_FILE };
        case 'key': {
            const click = /^click:(\w+)$/.exec(assignment.key);
            const code = click ? hexByte(CLICK_CODES[click[1]]) : assignment.key;
            return { ...base, TYPE: 'gKey', PARAMSIZE: ASSIGNMENT_SIZE,
                PARAMDATA: `${code}|${assignment.repeat}|${assignment.interval}`, DeviceVersion: KEY_DEFINITION_FILE };
        }
        case 'macro':
            if (!macroText) throw new Error('a device macro needs its actions');
            return { ...base, TYPE: 'macro', PARAMSIZE: ASSIGNMENT_SIZE, PARAMDATA: macroText,
                LOOP: hexByte(loop), DeviceVersion: KEY_DEFINITION_FILE };
        default:
            throw new Error(`cannot write a ${assignment.kind} assignment`);
    }
}

// A combination is written modifiers first, the way a user reads it.
export function orderCombination(names) {
    return [...names].sort((a, b) => {
        const ma = MODIFIERS.indexOf(a);
        const mb = MODIFIERS.indexOf(b);
        return (ma < 0 ? 99 : ma) - (mb < 0 ? 99 : mb);
    });
}

// Some button must keep the left click, or the mouse can no longer click.
export function keepsLeftClick(assignments) {
    return assignments.some((assignment) => assignment?.kind === 'mouse' && assignment.code === MOUSE.left);
}

// Macro slots the buttons point at; a slot no button names can be cleared.
export function slotsInUse(assignments) {
    return new Set(assignments.filter((assignment) => assignment?.kind === 'macro').map((assignment) => assignment.slot));
}

// The buttons that play the macro `name`: a software macro names it, a device macro holds its
// actions (storedName gives the library's name for the actions in a button's slot).
// assignments: [{ button, assignment }].
export function buttonsUsingMacro(name, assignments, storedName) {
    return assignments.filter(({ assignment }) => (assignment?.kind === 'softmacro' && assignment.macro === name)
        || (assignment?.kind === 'macro' && storedName(assignment) === name)).map(({ button }) => button);
}
