import assert from 'node:assert/strict';
import test from 'node:test';

import { createTranslator } from '../../resources/appdir/template/default/js/i18n.js';
import { QueryError } from '../../resources/appdir/template/default/js/bridge.js';
import en from '../../resources/appdir/view/device/vm100/js/i18n/en.js';
import zh from '../../resources/appdir/view/device/vm100/js/i18n/zh.js';
import { createStatusBoard, failureMark, failureStatus, list, problem, render, text }
    from '../../resources/appdir/view/device/vm100/js/status.js';

const tEn = createTranslator({ zh, en }, 'en');
const tZh = createTranslator({ zh, en }, 'zh');

test('a failure is told by what was being done, in the user\'s words, never in the native side\'s', () => {
    const cases = [
        [new QueryError('failed', 'writeDevicesProp failed!', 'writeDevicesProp'), 'Write to the mouse failed: the mouse did not take the change', 'state.failed'],
        [new QueryError('timeout', '', 'writeDevicesProp'), 'Write to the mouse failed: no answer', 'state.failed'],
        [new QueryError('failed', 'queryProfile load xml file failed!', 'queryProfile'), 'Could not read the file: the file is missing or damaged', 'state.notApplied'],
        [new QueryError('failed', 'savexml failed!', 'savexml'), 'Could not save: the file could not be written', 'state.notSaved'],
        [new QueryError('failed', 'modifyMouseSpeed failed!', 'modifyMouseSpeed'), 'The system setting was not changed: the system refused the change', 'state.notApplied'],
        [new QueryError('unavailable', '', 'setVDevice'), 'The input engine did not take it: no command channel', 'state.notApplied'],
        [problem('macro.tooLong', { items: 1506, max: 200 }), 'Not applied: Too long for the mouse: it needs 1506 bytes, at most 200.', 'state.notApplied'],
        [new Error('expected 8 bytes, got "0x01"'), 'Not done: the answer could not be understood', 'state.notApplied'],
    ];
    for (const [error, shown, mark] of cases) {
        assert.equal(render(failureStatus(error), tEn), shown);
        assert.equal(failureMark(error), mark, shown);
        const chinese = render(failureStatus(error), tZh);
        assert.doesNotMatch(chinese, /failed|[A-Za-z]{4,}/, chinese);
    }
});

test('a message is drawn in the language current when it is shown, its details included', () => {
    const message = text('status.profilePartly', { name: 'game', count: 2, parts: list([
        text('profile.partFailed', { part: text('dpi.stageN', { n: 2 }), error: text('why.timeout') }),
        text('profile.partFailed', { part: text('lighting.heading'), error: text('why.mouseWrite') }),
    ], { long: true }) });
    assert.equal(render(message, tEn),
        '"game" loaded, but 2 part(s) did not apply: Stage 2: no answer; Lighting: the mouse did not take the change');
    assert.equal(render(message, tZh), '“game”已载入，但有 2 项没有生效：档位 2：没有响应；灯光：鼠标没有接受更改');
});

test('a warning lasts until the same thing succeeds or no longer holds', () => {
    const tooLong = text('status.notApplied', { error: text('macro.tooLong', { items: 1506, max: 200 }) });
    // Each step: what happens, then the bar's message key and the macro editor's standing problem.
    const steps = [
        [(board) => board.report('editor', tooLong, 'error'), 'status.notApplied', 'status.notApplied'],
        // Another card's success shows, but the editor's problem still holds.
        [(board) => board.report('lighting', text('status.lightingSet'), 'ok'), 'status.lightingSet', 'status.notApplied'],
        [(board) => board.report('editor', text('status.macroSaved', { name: 'm' }), 'ok'), 'status.macroSaved', null],
        [(board) => board.report('listing', text('status.listFailed', { error: text('why.timeout') }), 'error'), 'status.listFailed', null],
        // Once the listing works again the bar has no problem left to show.
        [(board) => board.resolve('listing'), null, null],
        [(board) => board.report('keys', text('status.keysFailed', { error: text('why.fileRead') }), 'error'), 'status.keysFailed', null],
        [(board) => board.report('editor', tooLong, 'error'), 'status.notApplied', 'status.notApplied'],
        // A problem dropped from the bar gives way to the one still standing.
        [(board) => board.resolve('editor'), 'status.keysFailed', null],
    ];
    const board = createStatusBoard();
    steps.forEach(([step, bar, editor], i) => {
        step(board);
        assert.equal(board.shown()?.message.key ?? null, bar, `step ${i + 1}: bar`);
        assert.equal(board.problem('editor')?.message.key ?? null, editor, `step ${i + 1}: editor`);
    });
});
