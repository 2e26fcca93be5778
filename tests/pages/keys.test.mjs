import assert from 'node:assert/strict';
import test from 'node:test';

import { keyNameForCode, parseCombination, parseKeyTable, readCombination } from '../../resources/appdir/view/device/vm100/js/keys.js';
import { keys } from './keytable.mjs';

test('the shipped key-definition file gives codes, names and the 30 macro slot addresses', () => {
    assert.equal(keys.code('A'), 0x04);
    assert.equal(keys.code('CTRL'), 0xe0);
    assert.equal(keys.name(0x34), "'");
    assert.equal(keys.code('左键'), 0x01);
    // The mouse buttons' codes are not keyboard keys.
    assert.equal(keys.name(0x01), undefined);
    assert.equal(keys.mouseName(0x02), '右键');
    assert.ok(!keys.keyNames.includes('左键') && keys.keyNames.includes('F12'));
    assert.equal(keys.slotCount, 30);
    assert.equal(keys.slotAddress(0), 0x1000);
    assert.equal(keys.slotAddress(29), 0x2d00);
    assert.equal(keys.slotOfAddress(0x1100), 1);
});

test('entries that are not keys or slots are left out of the table', () => {
    const table = parseKeyTable('<key name="A" hidCode="0x04" /><key name="B" hidCode="oops" /><other name="C" hidCode="0x06" /><key hidCode="0x07" />',
        '<macro name="macro1" code="0x1100" /><macro name="slot" code="0x1200" /><macro name="macro2" code="x" />');
    assert.deepEqual(table.names, ['A']);
    assert.equal(table.slotAddress(1), 0x1100);
    assert.equal(table.slotCount, 1);
});

test('pressed keys are named by their physical position, whatever the layout', () => {
    const codes = ['KeyQ', 'Digit7', 'Numpad3', 'F11', 'ControlRight', 'ShiftLeft', 'MetaLeft', 'Quote', 'Backslash',
        'ArrowUp', 'NumpadEnter', 'Space', 'AudioVolumeUp', 'F13', ''];
    assert.deepEqual(codes.map(keyNameForCode),
        ['Q', '7', '3', 'F11', 'RCTRL', 'SHIFT', 'WIN', "'", '\\', 'UP', 'ENTER', 'SPACE', null, null, null]);
    // Every name the page can produce is one the device knows.
    for (const code of ['KeyA', 'Digit0', 'F1', 'Escape', 'Tab', 'Minus', 'Equal', 'BracketLeft', 'Semicolon', 'Backquote',
        'Comma', 'Period', 'Slash', 'CapsLock', 'PrintScreen', 'ScrollLock', 'Pause', 'Insert', 'Home', 'PageUp', 'Delete',
        'End', 'PageDown', 'ArrowLeft', 'NumLock', 'AltRight', 'MetaRight']) {
        assert.ok(keys.has(keyNameForCode(code)), code);
    }
});

test('typed combinations become key names, and anything else is refused', () => {
    assert.deepEqual(parseCombination('ctrl + c', keys), ['CTRL', 'C']);
    assert.deepEqual(parseCombination('SHIFT+=', keys), ['SHIFT', '=']);
    assert.equal(parseCombination('CTRL+CTRL', keys), null);
    assert.equal(parseCombination('CTRL+左键', keys), null);
    assert.equal(parseCombination('CTRL+NOPE', keys), null);
    assert.equal(parseCombination(' + ', keys), null);
});

test('a typed combination that is no combination says why', () => {
    const cases = [
        ['ctrl + c', { keys: ['CTRL', 'C'] }],
        ['', { error: { key: 'button.noKey' } }],
        [' + ', { error: { key: 'button.noKey' } }],
        ['CTRL+FOO', { error: { key: 'button.unknownKeyName', params: { name: 'FOO' } } }],
        ['ctrl+ctrl', { error: { key: 'button.repeatedKey', params: { name: 'CTRL' } } }],
        ['CTRL+左键', { error: { key: 'button.mouseInCombination', params: { name: '左键' } } }],
    ];
    for (const [typed, result] of cases) assert.deepEqual(readCombination(typed, keys), result, typed);
});
