import assert from 'node:assert/strict';
import test from 'node:test';

import { parseDocument, firstChild } from '../../resources/appdir/template/default/js/xml.js';
import { buildKeyMap, parseKeyMap } from '../../resources/appdir/view/device/vm100/js/keymap.js';

const DEVICE = 'HID\\VID_04D9&PID_A0D2&REV_0100&MI_00';
const macro = { name: 'Reload <fast> & "safe"', actions: [{ type: 'down', key: 'R' }, { type: 'delay', ms: 30 },
    { type: 'up', key: 'R' }, { type: 'down', key: '左键' }, { type: 'up', key: '左键' }] };

test('a software macro maps the button\'s filter state with flag 10 to a MACRO task', () => {
    const text = buildKeyMap(DEVICE, [{ button: 5, macro, playType: 1, playCount: 1 }, { button: 2, macro, playType: 0, playCount: 3 }]);
    const root = parseDocument(text);
    assert.equal(root.name, 'conf');
    assert.equal(root.attrs.deviceId, DEVICE);
    const forward = firstChild(root, 'button5');
    assert.deepEqual({ ...forward.attrs }, { scanCode: '256', flag: '10', playType: '1', playCount: '1', button: '5', macro: macro.name });
    assert.deepEqual({ ...firstChild(forward, 'action').attrs }, { task: 'MACRO', value: '按下(R)延迟(30)弹起(R)' });
    assert.equal(firstChild(root, 'button2').attrs.scanCode, '4');
});

test('a stored key map reads back as its buttons and macros', () => {
    const text = buildKeyMap(DEVICE, [{ button: 3, macro, playType: 0, playCount: 2 }]);
    assert.deepEqual(parseKeyMap(text), { deviceId: DEVICE, entries: [{ button: 3, macroName: macro.name, playType: 0, playCount: 2 }] });
});

test('buttons the input filter cannot see get no software macro', () => {
    for (const button of [1, 6, 7, 9]) assert.throws(() => buildKeyMap(DEVICE, [{ button, macro, playType: 0, playCount: 1 }]));
    const stored = `<conf deviceId="x"><a button="1" scanCode="1" flag="10"><action task="MACRO" value="" /></a>
        <b button="4" playType="7" playCount="500"><action task="MACRO" value="" /></b><c button="5" /></conf>`;
    assert.deepEqual(parseKeyMap(stored).entries, [{ button: 4, macroName: '', playType: 0, playCount: 99 }]);
    assert.throws(() => parseKeyMap('<macros />'));
});
