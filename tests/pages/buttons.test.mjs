import assert from 'node:assert/strict';
import test from 'node:test';

import { assignmentRequest, buttonsUsingMacro, checkAssignment, decodeAssignment, keepsLeftClick, orderCombination,
    slotsInUse } from '../../resources/appdir/view/device/vm100/js/buttons.js';
import { BUTTONS } from '../../resources/appdir/view/device/vm100/js/model.js';
import { keys } from './keytable.mjs';

const pad = (bytes) => [...bytes, ...new Array(16 - bytes.length).fill(0)];

test('the factory buttons read as their mouse and DPI functions', () => {
    const factory = [[1, 1], [1, 2], [1, 4], [1, 8], [1, 0x10], [3, 1], [3, 2]];
    assert.deepEqual(factory.map((bytes) => decodeAssignment(pad(bytes), keys)), [
        { kind: 'mouse', code: 1 }, { kind: 'mouse', code: 2 }, { kind: 'mouse', code: 4 }, { kind: 'mouse', code: 8 },
        { kind: 'mouse', code: 16 }, { kind: 'dpi', code: 1 }, { kind: 'dpi', code: 2 }]);
    assert.deepEqual(decodeAssignment(pad([]), keys), { kind: 'none' });
});

test('what the key-script builder writes reads back as the assignment the page sent', () => {
    // hotKey "A" gives 0x02,0x00,code,0x00; "CTRL+C" gives 0x02,CTRL,C,0x00.
    assert.deepEqual(decodeAssignment(pad([2, 0, 0x04, 0]), keys), { kind: 'hotkey', keys: ['A'] });
    assert.deepEqual(decodeAssignment(pad([2, 0xe0, 0x06, 0]), keys), { kind: 'hotkey', keys: ['CTRL', 'C'] });
    assert.deepEqual(decodeAssignment(pad([2, 0xe0, 0xe1, 0x1d]), keys), { kind: 'hotkey', keys: ['CTRL', 'SHIFT', 'Z'] });
    // gKey "A|3|20" and "0x81|5|0"; a macro reference 0x04,0,slot,n.
    assert.deepEqual(decodeAssignment(pad([5, 0x04, 3, 20]), keys), { kind: 'key', key: 'A', repeat: 3, interval: 20 });
    assert.deepEqual(decodeAssignment(pad([5, 0x81, 5, 0]), keys), { kind: 'key', key: 'click:left', repeat: 5, interval: 0 });
    assert.deepEqual(decodeAssignment(pad([4, 0, 2, 7]), keys), { kind: 'macro', slot: 2, length: 7 });
});

test('bytes that are no assignment the page knows are shown as unknown', () => {
    assert.equal(decodeAssignment(pad([9, 1]), keys).kind, 'unknown');
    assert.equal(decodeAssignment(pad([1, 3]), keys).kind, 'unknown');
    assert.equal(decodeAssignment(pad([2, 0, 0xff, 0]), keys).kind, 'unknown');
    assert.deepEqual(decodeAssignment(pad([3, 9, 1, 2]), keys).bytes, [3, 9, 1, 2]);
});

test('each assignment becomes the writeDevicesProp members its TYPE needs, four items long', () => {
    assert.deepEqual(assignmentRequest(2, { kind: 'mouse', code: 8 }),
        { PARAMID: 2, TYPE: 'mouseFunc', PARAMSIZE: 4, PARAMDATA: '0x01,0x08,0x00,0x00' });
    assert.deepEqual(assignmentRequest(6, { kind: 'dpi', code: 2 }).PARAMDATA, '0x03,0x02,0x00,0x00');
    assert.deepEqual(assignmentRequest(7, { kind: 'none' }).PARAMDATA, '0x00,0x00,0x00,0x00');
    // A software macro leaves the button its own click, which the input filter sees.
    assert.equal(assignmentRequest(5, { kind: 'softmacro', code: 16, macro: 'm' }).PARAMDATA, '0x01,0x10,0x00,0x00');
    assert.deepEqual(assignmentRequest(4, { kind: 'hotkey', keys: ['CTRL', 'C'] }),
        { PARAMID: 4, TYPE: 'hotKey', PARAMSIZE: 4, PARAMDATA: 'CTRL+C', DeviceVersion: 'mouse1.1.xml' });
    assert.equal(assignmentRequest(3, { kind: 'key', key: 'F5', repeat: 2, interval: 30 }).PARAMDATA, 'F5|2|30');
    assert.equal(assignmentRequest(3, { kind: 'key', key: 'click:middle', repeat: 10, interval: 50 }).PARAMDATA, '0x84|10|50');
    assert.deepEqual(assignmentRequest(4, { kind: 'macro', macro: 'm' }, '按下(A)弹起(A)', 12),
        { PARAMID: 4, TYPE: 'macro', PARAMSIZE: 4, PARAMDATA: '按下(A)弹起(A)', LOOP: '0x0c', DeviceVersion: 'mouse1.1.xml' });
    assert.throws(() => assignmentRequest(4, { kind: 'macro', macro: 'm' }, ''));
    assert.throws(() => assignmentRequest(17, { kind: 'none' }), RangeError);
});

test('special actions are written in the device table and read back as themselves', () => {
    // [assignment, PARAMDATA sent, bytes the device then holds]
    const cases = [
        [{ kind: 'dpi', code: 3 }, '0x03,0x03,0x00,0x00', [3, 3, 0, 0]],
        [{ kind: 'dpi', code: 4, dpi: 400 }, '0x03,0x04,0x08,0x00', [3, 4, 8, 0]],
        [{ kind: 'dpi', code: 4, dpi: 16000 }, '0x03,0x04,0x40,0x01', [3, 4, 0x40, 1]],
        [{ kind: 'special', action: 'wheelUp' }, '0x06,0x01,0x00,0x00', [6, 1, 0, 0]],
        [{ kind: 'special', action: 'wheelDown' }, '0x06,0x02,0x00,0x00', [6, 2, 0, 0]],
        // A double click goes through the key-script builder as the left click pressed twice.
        [{ kind: 'special', action: 'doubleClick' }, '0x81|2|40', [5, 0x81, 2, 40]],
    ];
    for (const [assignment, data, held] of cases) {
        assert.ok(checkAssignment(assignment, keys).ok, JSON.stringify(assignment));
        assert.equal(assignmentRequest(6, assignment).PARAMDATA, data);
        assert.deepEqual(decodeAssignment(pad(held), keys), assignment);
    }
    // Two left clicks at another pace stay a key assignment the user made.
    assert.equal(decodeAssignment(pad([5, 0x81, 2, 41]), keys).kind, 'key');
    assert.equal(decodeAssignment(pad([6, 3]), keys).kind, 'unknown');
});

test('assignments the device cannot take are refused with a reason', () => {
    const reason = (assignment) => checkAssignment(assignment, keys).error;
    assert.equal(reason({ kind: 'mouse', code: 3 }), 'button.badFunction');
    assert.equal(reason({ kind: 'hotkey', keys: [] }), 'button.noKey');
    assert.equal(reason({ kind: 'hotkey', keys: ['CTRL', 'ALT', 'SHIFT', 'A'] }), 'button.tooManyKeys');
    assert.equal(reason({ kind: 'hotkey', keys: ['CTRL', 'CTRL'] }), 'button.unknownKey');
    assert.equal(reason({ kind: 'hotkey', keys: ['CTRL', 'Ä'] }), 'button.unknownKey');
    assert.equal(reason({ kind: 'key', key: 'A', repeat: 0, interval: 0 }), 'button.repeatRange');
    assert.equal(reason({ kind: 'key', key: 'A', repeat: 1, interval: 256 }), 'button.intervalRange');
    assert.equal(reason({ kind: 'key', key: 'click:side', repeat: 1, interval: 0 }), 'button.unknownKey');
    assert.equal(reason({ kind: 'macro', macro: '' }), 'button.noMacro');
    assert.equal(reason({ kind: 'lighting' }), 'button.badFunction');
    assert.equal(reason({ kind: 'special', action: 'tripleClick' }), 'button.badFunction');
    for (const dpi of [50, 16050, 425, undefined]) assert.equal(reason({ kind: 'dpi', code: 4, dpi }), 'dpi.range');
    assert.ok(checkAssignment({ kind: 'hotkey', keys: ['CTRL', 'SHIFT', 'ESC'] }, keys).ok);
    assert.ok(checkAssignment({ kind: 'key', key: 'click:right', repeat: 255, interval: 0 }, keys).ok);
});

test('some button must keep the left click; macro slots in use are the ones buttons name', () => {
    assert.equal(keepsLeftClick([{ kind: 'mouse', code: 2 }, { kind: 'mouse', code: 1 }]), true);
    assert.equal(keepsLeftClick([{ kind: 'hotkey', keys: ['A'] }, { kind: 'mouse', code: 2 }, undefined]), false);
    assert.deepEqual([...slotsInUse([{ kind: 'macro', slot: 3 }, { kind: 'mouse', code: 1 }, { kind: 'macro', slot: 0 }])].sort(), [0, 3]);
});

test('a combination is written modifiers first', () => {
    assert.deepEqual(orderCombination(['C', 'SHIFT', 'CTRL']), ['CTRL', 'SHIFT', 'C']);
});

test('a macro is in use by the buttons that play it, in software or from the mouse', () => {
    // The library's name for what a device slot holds, as the page matches it by actions.
    const slots = { 0: 'Reload', 1: 'Jump' };
    const storedName = (assignment) => slots[assignment.slot] ?? null;
    const assignments = [
        { kind: 'mouse', code: 1 },
        { kind: 'softmacro', macro: 'Reload', playType: 0, playCount: 1 },
        { kind: 'macro', slot: 1 },
        { kind: 'macro', slot: 0 },
        { kind: 'macro', slot: 7 },
        undefined,
        { kind: 'softmacro', macro: 'Reload 2' },
    ].map((assignment, i) => ({ button: BUTTONS[i], assignment }));
    const users = (name) => buttonsUsingMacro(name, assignments, storedName).map((button) => button.name);
    assert.deepEqual(users('Reload'), ['right', 'back']);
    assert.deepEqual(users('Jump'), ['middle']);
    assert.deepEqual(users('Spare'), []);
});
