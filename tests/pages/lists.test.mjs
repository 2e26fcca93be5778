import assert from 'node:assert/strict';
import test from 'node:test';

import { listKey, tabStop } from '../../resources/appdir/view/device/vm100/js/listnav.js';
import { planRowUpdate } from '../../resources/appdir/view/device/vm100/js/listpatch.js';

test('arrow keys move along a list, Home and End jump, Enter and Space open the row', () => {
    const cases = [
        // key, focused row, rows, what happens
        ['ArrowDown', 2, 7, { move: 3 }],
        ['ArrowDown', 6, 7, { move: 6 }],
        ['ArrowDown', -1, 7, { move: 0 }],
        ['ArrowUp', 2, 7, { move: 1 }],
        ['ArrowUp', 0, 7, { move: 0 }],
        ['Home', 4, 7, { move: 0 }],
        ['End', 1, 7, { move: 6 }],
        ['Enter', 3, 7, { open: 3 }],
        [' ', 0, 7, { open: 0 }],
        ['Enter', -1, 7, null],
        ['ArrowDown', -1, 0, null],
        ['a', 2, 7, null],
        ['Tab', 2, 7, null],
    ];
    for (const [key, index, count, action] of cases) assert.deepEqual(listKey(key, index, count), action, `${key} at ${index}`);
});

test('a list is one tab stop: the chosen row, else the first', () => {
    assert.deepEqual([tabStop(3, 7), tabStop(-1, 7), tabStop(9, 7), tabStop(-1, 0)], [3, 0, 0, -1]);
});

test('an edit to a long action list redraws only the rows it touched', () => {
    const actions = Array.from({ length: 500 }, (_, i) => ({ i }));
    const added = { i: 'new' };
    const swapped = [...actions];
    [swapped[10], swapped[11]] = [swapped[11], swapped[10]];
    const cases = [
        ['one action added at the end', [...actions, added], { head: 500, removed: 0, added: [added] }],
        ['the first removed', actions.slice(1), { head: 0, removed: 1, added: [] }],
        ['one removed in the middle', [...actions.slice(0, 250), ...actions.slice(251)], { head: 250, removed: 1, added: [] }],
        ['two swapped', swapped, { head: 10, removed: 2, added: [actions[11], actions[10]] }],
        ['nothing changed', [...actions], { head: 500, removed: 0, added: [] }],
        ['all replaced', [added], { head: 0, removed: 500, added: [added] }],
    ];
    for (const [what, after, plan] of cases) assert.deepEqual(planRowUpdate(actions, after), plan, what);
});
