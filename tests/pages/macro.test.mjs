import assert from 'node:assert/strict';
import test from 'node:test';

import { createTranslator } from '../../resources/appdir/template/default/js/i18n.js';
import en from '../../resources/appdir/view/device/vm100/js/i18n/en.js';
import zh from '../../resources/appdir/view/device/vm100/js/i18n/zh.js';
import { checkMacro, createRecorder, decodeDeviceMacro, deviceActionText, deviceItemCount, freeName, hasUnsavedChanges,
    keyMapActionText, macroMeter, playActionText } from '../../resources/appdir/view/device/vm100/js/macro.js';
import { render, text } from '../../resources/appdir/view/device/vm100/js/status.js';
import { keys } from './keytable.mjs';

test('recording keeps presses and releases with the time between them', () => {
    const recorder = createRecorder();
    recorder.press('SHIFT', 1000);
    recorder.press('H', 1120.4);
    recorder.press('H', 1150); // auto-repeat
    recorder.release('H', 1200);
    recorder.release('SHIFT', 1200);
    assert.deepEqual(recorder.stop(), [
        { type: 'down', key: 'SHIFT' }, { type: 'delay', ms: 120 }, { type: 'down', key: 'H' }, { type: 'delay', ms: 80 },
        { type: 'up', key: 'H' }, { type: 'up', key: 'SHIFT' }]);
});

test('a recording leaves out releases of keys held before it and releases keys still held at its end', () => {
    const recorder = createRecorder({ withDelays: false });
    assert.equal(recorder.release('CTRL', 10), false);
    recorder.press('A', 20);
    recorder.press('B', 500);
    assert.deepEqual(recorder.stop(), [{ type: 'down', key: 'A' }, { type: 'down', key: 'B' }, { type: 'up', key: 'B' }, { type: 'up', key: 'A' }]);
});

const shot = [{ type: 'down', key: 'A' }, { type: 'delay', ms: 100 }, { type: 'up', key: 'A' }];
const withMouse = [{ type: 'down', key: '左键' }, { type: 'delay', ms: 5000 }, { type: 'up', key: '左键' }, ...shot];

test('the device gets the builder\'s action words, long delays split into items it can hold', () => {
    assert.equal(deviceActionText(shot), '按下(A)延迟(100)弹起(A)');
    assert.equal(deviceActionText(withMouse), '按下(左键)延迟(4095)延迟(905)弹起(左键)按下(A)延迟(100)弹起(A)');
    // Three items an action, the split delay counted twice, three for the end.
    assert.equal(deviceItemCount(withMouse), 3 * 7 + 3);
});

test('software playback names the mouse buttons its own way, and key maps play keys only', () => {
    assert.equal(playActionText(withMouse), '按下左键()延迟(5000)弹起左键()按下(A)延迟(100)弹起(A)');
    assert.equal(playActionText([{ type: 'down', key: '右键' }, { type: 'up', key: '右键' }]), '按下右键()弹起右键()');
    assert.equal(keyMapActionText(withMouse), '延迟(4095)延迟(905)按下(A)延迟(100)弹起(A)');
});

test('a stored device macro reads back as the actions that made it', () => {
    // The slot body the builder writes for 按下(A)延迟(500)弹起(A)按下(右键)弹起(右键) with LOOP 2.
    const body = [0x84, 0x04, 0, 0x06, 0xf4, 1, 0x04, 0x04, 0, 0x81, 0x02, 0, 0x01, 0x02, 0, 0x07, 2, 0];
    assert.deepEqual(decodeDeviceMacro([...body, ...new Array(182).fill(0)], keys), {
        loop: 2,
        actions: [{ type: 'down', key: 'A' }, { type: 'delay', ms: 500 }, { type: 'up', key: 'A' },
            { type: 'down', key: '右键' }, { type: 'up', key: '右键' }],
    });
    const split = [0x06, 0xff, 0x0f, 0x06, 0x89, 0x03, 0x07, 1, 0];
    assert.deepEqual(decodeDeviceMacro(split, keys).actions, [{ type: 'delay', ms: 5000 }]);
});

test('bytes that are not a macro are not read as one', () => {
    assert.equal(decodeDeviceMacro(new Array(200).fill(0), keys), null);
    assert.equal(decodeDeviceMacro([0x84, 0xfe, 0, 0x07, 1, 0], keys), null);
    assert.equal(decodeDeviceMacro([0x84, 0x04, 0], keys), null);
});

test('a macro with a problem says which', () => {
    const problems = (macro, options) => checkMacro(macro, keys, options).map((item) => item.key);
    assert.deepEqual(problems({ name: 'ok', actions: shot }), []);
    assert.deepEqual(problems({ name: ' ', actions: [{ type: 'delay', ms: 5 }] }), ['macro.noName', 'macro.empty']);
    assert.deepEqual(problems({ name: 'x', actions: [{ type: 'down', key: 'NOPE' }, { type: 'up', key: 'NOPE' }] }), ['macro.unknownKey', 'macro.unknownKey']);
    assert.deepEqual(problems({ name: 'x', actions: [{ type: 'down', key: 'A' }] }), ['macro.keyLeftDown']);
    assert.deepEqual(problems({ name: 'x', actions: [...shot, { type: 'delay', ms: 0 }] }), ['macro.badDelay']);
    assert.deepEqual(problems({ name: 'x', actions: withMouse }, { forSoftware: true }), ['macro.mouseInSoftware', 'macro.mouseInSoftware']);
    const long = Array.from({ length: 33 }, () => shot).flat();
    assert.deepEqual(problems({ name: 'x', actions: long }), []);
    assert.deepEqual(problems({ name: 'x', actions: long }, { forDevice: true }), ['macro.tooLong']);
    assert.deepEqual(problems({ name: 'x'.repeat(41), actions: shot }), ['macro.nameTooLong']);
});

test('a new macro gets the first free name', () => {
    assert.equal(freeName('Macro', ['Macro 1', 'Macro 3']), 'Macro 2');
});

test('leaving the editor asks only when something would be lost', () => {
    const stored = { name: 'Reload', actions: shot };
    const cases = [
        ['a stored macro as it was opened', { name: 'Reload', actions: shot.map((a) => ({ ...a })) }, stored, false],
        ['spaces around the name only', { name: ' Reload ', actions: shot }, stored, false],
        ['a renamed macro', { name: 'Reload 2', actions: shot }, stored, true],
        ['an action removed', { name: 'Reload', actions: shot.slice(1) }, stored, true],
        ['a delay changed', { name: 'Reload', actions: [shot[0], { type: 'delay', ms: 101 }, shot[2]] }, stored, true],
        ['a new macro untouched', { name: 'Macro 2', actions: [], initialName: 'Macro 2' }, null, false],
        ['a new macro renamed', { name: 'Jump', actions: [], initialName: 'Macro 2' }, null, true],
        ['a new macro with an action', { name: 'Macro 2', actions: [shot[0]], initialName: 'Macro 2' }, null, true],
    ];
    for (const [what, draft, saved, asks] of cases) assert.equal(hasUnsavedChanges(draft, saved), asks, what);
    assert.equal(hasUnsavedChanges(null, null), false);
});

test('the size meter turns to overflow the moment a macro outgrows a slot', () => {
    const presses = (n) => Array.from({ length: n }, () => shot[0]);
    const cases = [[0, 3, false], [65, 198, false], [66, 201, true], [501, 1506, true]];
    for (const [actions, used, over] of cases) {
        const meter = macroMeter(presses(actions));
        assert.deepEqual([meter.used, meter.max, meter.over], [used, 200, over], `${actions} actions`);
        assert.ok(meter.fill <= 1);
    }
    assert.equal(createTranslator({ zh, en }, 'en')('macro.meter', { used: 1506, max: 200 }), '1506 / 200 bytes');
});

test('keys left down are named in the page\'s language, the mouse buttons in words', () => {
    const [problem] = checkMacro({ name: 'x', actions: [{ type: 'down', key: '左键' }, { type: 'down', key: 'A' }] }, keys);
    const shown = (language) => render(text(problem.key, problem.params), createTranslator({ zh, en }, language));
    assert.equal(shown('en'), 'These keys are pressed and never released: Left click, A.');
    assert.equal(shown('zh'), '这些键按下后没有弹起：左键单击、A。');
});
