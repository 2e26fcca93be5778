// The VM100 as its settings page sees it: property ids and sizes, the buttons and their
// factory functions, the ranges the device accepts, and the files the page keeps.

export const MODEL = 'vm100';
export const KEY_DEFINITION_FILE = 'mouse1.1.xml';
export const KEY_DEFINITION_PATH = `Resources/${KEY_DEFINITION_FILE}`;
export const PROFILE_FOLDER = `profiles/${MODEL}`;
export const PROFILE_INDEX = `${PROFILE_FOLDER}/index.xml`;
export const MACRO_LIBRARY = `${PROFILE_FOLDER}/macros.xml`;
export const KEY_MAP_FILE = `${PROFILE_FOLDER}/keymap.xml`;

export const PROP = {
    buttonFirst: 1,
    buttonLast: 16,
    reportRate: 40,
    lighting: 42,
    debounce: 43,
    sound: 44,
    dpiStage: 48,
    dpiFirst: 50,
};

export const SIZE = { button: 16, dpi: 8, reportRate: 1, dpiStage: 1, lighting: 10, debounce: 10, sound: 10 };

export const DPI_STAGES = 5;
export const DPI_MIN = 100;
export const DPI_MAX = 16000;
export const DPI_STEP = 50;

// Polling interval in milliseconds as the device holds it, and the rate a user knows.
export const REPORT_RATES = [
    { interval: 1, hz: 1000 },
    { interval: 2, hz: 500 },
    { interval: 4, hz: 250 },
    { interval: 8, hz: 125 },
];

// Mouse-function codes of the button property.
export const MOUSE = { left: 0x01, right: 0x02, middle: 0x04, back: 0x08, forward: 0x10 };
// DPI functions: a step up or down, round the stages, and "sniper": the DPI in the button's
// next two bytes (in steps of DPI_STEP) while the button is held.
export const DPI_FUNCTION = { up: 0x01, down: 0x02, cycle: 0x03, sniper: 0x04 };
// Wheel-function codes: one notch up or down for each press.
export const WHEEL = { up: 0x01, down: 0x02 };

// The physical buttons, by property id, with what the factory gives them. A software macro
// needs a button the input filter sees: one that sends right, middle, back or forward.
export const BUTTONS = [
    { id: 1, name: 'left', factory: { kind: 'mouse', code: MOUSE.left } },
    { id: 2, name: 'right', factory: { kind: 'mouse', code: MOUSE.right }, trigger: 4 },
    { id: 3, name: 'middle', factory: { kind: 'mouse', code: MOUSE.middle }, trigger: 16 },
    { id: 4, name: 'back', factory: { kind: 'mouse', code: MOUSE.back }, trigger: 64 },
    { id: 5, name: 'forward', factory: { kind: 'mouse', code: MOUSE.forward }, trigger: 256 },
    { id: 6, name: 'dpiUp', factory: { kind: 'dpi', code: DPI_FUNCTION.up } },
    { id: 7, name: 'dpiDown', factory: { kind: 'dpi', code: DPI_FUNCTION.down } },
];

// The input filter marks mouse buttons with this flag in a key map.
export const MOUSE_TRIGGER_FLAG = 10;

export const LIGHTING_MODES = [0, 1, 2, 3, 4]; // off, steady, breathing, colour cycle, reactive
export const LIGHTING_SPEEDS = { min: 1, max: 5 };
export const DEBOUNCE_MS = { min: 1, max: 20 };
export const LIFT_OFF_MM = [1, 2];

export const MACRO_SLOT_ITEMS = 200;

// The input filter knows the mouse by the hardware id of its first interface.
export function inputHardwareId(deviceKey) {
    if (!/^[0-9A-F]{8}$/.test(deviceKey)) return '';
    return `HID\\VID_${deviceKey.slice(0, 4)}&PID_${deviceKey.slice(4)}&REV_0100&MI_00`;
}

export function buttonById(id) {
    return BUTTONS.find((button) => button.id === id) ?? null;
}
