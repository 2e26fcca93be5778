import assert from 'node:assert/strict';
import test from 'node:test';

import { decodeDebounce, decodeLighting, decodeSound, encodeDebounce, encodeLighting, encodeSound, lightingControls }
    from '../../resources/appdir/view/device/vm100/js/lighting.js';
import { LIGHTING_MODES } from '../../resources/appdir/view/device/vm100/js/model.js';

test('lighting reads as mode, brightness, speed and colour, and writes back to the same bytes', () => {
    const factory = [1, 100, 3, 0x00, 0x80, 0xff, 0, 1, 0, 0];
    const lighting = decodeLighting(factory);
    assert.deepEqual(lighting, { mode: 1, brightness: 100, speed: 3, color: '#0080ff', rest: [0, 1, 0, 0] });
    assert.deepEqual(encodeLighting(lighting), factory);
    assert.deepEqual(encodeLighting({ ...lighting, mode: 2, color: '#FF0010', brightness: 140, speed: 0 }), [2, 100, 1, 0xff, 0, 0x10, 0, 1, 0, 0]);
    assert.throws(() => encodeLighting({ ...lighting, mode: 9 }), RangeError);
    assert.throws(() => encodeLighting({ ...lighting, color: 'blue' }), RangeError);
});

test('debounce and sound keep the bytes the page does not edit', () => {
    const debounce = decodeDebounce([4, 1, 0, 0, 0, 0, 0, 0, 9, 0]);
    assert.deepEqual(encodeDebounce({ ...debounce, time: 30 }), [20, 1, 0, 0, 0, 0, 0, 0, 9, 0]);
    assert.throws(() => encodeDebounce({ ...debounce, liftOff: 3 }), RangeError);
    const sound = decodeSound([1, 50, 0, 0, 0, 0, 0, 0, 0, 7]);
    assert.deepEqual(sound, { on: true, volume: 50, rest: [0, 0, 0, 0, 0, 0, 0, 7] });
    assert.deepEqual(encodeSound({ ...sound, on: false }), [0, 50, 0, 0, 0, 0, 0, 0, 0, 7]);
    assert.equal(encodeSound({ on: true, volume: 30 }).length, 10);
});

test('each lighting mode offers only the controls it uses', () => {
    const expected = {
        0: { color: false, brightness: false, speed: false }, // off
        1: { color: true, brightness: true, speed: false }, // steady
        2: { color: true, brightness: true, speed: true }, // breathing
        3: { color: false, brightness: true, speed: true }, // colour cycle: its own colours
        4: { color: true, brightness: true, speed: true }, // reactive
    };
    assert.deepEqual(Object.fromEntries(LIGHTING_MODES.map((mode) => [mode, lightingControls(mode)])), expected);
    assert.deepEqual(lightingControls(9), expected[0]);
});
