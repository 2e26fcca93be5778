// Lighting, debounce and sound as the device's 10-byte properties hold them.
//   lighting: mode, brightness, speed, red, green, blue, three option bytes, spare
//   debounce: debounce time in ms, lift-off distance in mm, spare
//   sound:    on/off, volume, spare

import { clampInt } from './bytes.js';
import { DEBOUNCE_MS, LIFT_OFF_MM, LIGHTING_MODES, LIGHTING_SPEEDS } from './model.js';

export function decodeLighting(bytes) {
    return {
        mode: bytes[0],
        brightness: bytes[1],
        speed: bytes[2],
        color: `#${bytes.slice(3, 6).map((value) => value.toString(16).padStart(2, '0')).join('')}`,
        // Bytes the page does not edit go back unchanged.
        rest: bytes.slice(6, 10),
    };
}

export function encodeLighting({ mode, brightness, speed, color, rest = [0, 0, 0, 0] }) {
    if (!LIGHTING_MODES.includes(mode)) throw new RangeError(`no lighting mode ${mode}`);
    const match = /^#([0-9a-fA-F]{2})([0-9a-fA-F]{2})([0-9a-fA-F]{2})$/.exec(color ?? '');
    if (!match) throw new RangeError(`not a colour: ${color}`);
    return [mode, clampInt(brightness, 0, 100), clampInt(speed, LIGHTING_SPEEDS.min, LIGHTING_SPEEDS.max),
        ...match.slice(1).map((hex) => parseInt(hex, 16)), ...[...rest, 0, 0, 0, 0].slice(0, 4)];
}

// The controls each lighting mode uses; the others have no effect in it. Off uses none, and the
// colour cycle brings its own colours.
export const LIGHTING_CONTROLS = {
    0: [],
    1: ['color', 'brightness'],
    2: ['color', 'brightness', 'speed'],
    3: ['brightness', 'speed'],
    4: ['color', 'brightness', 'speed'],
};

export function lightingControls(mode) {
    const used = LIGHTING_CONTROLS[mode] ?? [];
    return { color: used.includes('color'), brightness: used.includes('brightness'), speed: used.includes('speed') };
}

export function decodeDebounce(bytes) {
    return { time: bytes[0], liftOff: bytes[1], rest: bytes.slice(2, 10) };
}

export function encodeDebounce({ time, liftOff, rest = [] }) {
    if (!LIFT_OFF_MM.includes(liftOff)) throw new RangeError(`no lift-off distance ${liftOff}`);
    return [clampInt(time, DEBOUNCE_MS.min, DEBOUNCE_MS.max), liftOff, ...[...rest, 0, 0, 0, 0, 0, 0, 0, 0].slice(0, 8)];
}

export function decodeSound(bytes) {
    return { on: bytes[0] !== 0, volume: bytes[1], rest: bytes.slice(2, 10) };
}

export function encodeSound({ on, volume, rest = [] }) {
    return [on ? 1 : 0, clampInt(volume, 0, 100), ...[...rest, 0, 0, 0, 0, 0, 0, 0, 0].slice(0, 8)];
}
