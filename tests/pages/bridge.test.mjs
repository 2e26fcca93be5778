import assert from 'node:assert/strict';
import test from 'node:test';

import { createBridge } from '../../resources/appdir/template/default/js/bridge.js';

// A page host whose queries the test answers by hand, with a clock the test moves.
function fakeHost() {
    const queries = [];
    const cancelled = [];
    const timers = [];
    const host = {
        cefQuery(query) {
            queries.push(query);
            return queries.length;
        },
        cefQueryCancel: (id) => cancelled.push(id),
        setMessageCallback(name, fn) {
            host.events = { ...(host.events ?? {}), [name]: fn };
        },
    };
    const clock = {
        setTimeout: (fn, ms) => timers.push({ fn, ms, done: false }) - 1,
        clearTimeout: (id) => { timers[id].done = true; },
        fire() {
            for (const timer of timers) {
                if (!timer.done) {
                    timer.done = true;
                    timer.fn();
                }
            }
        },
    };
    return { host, queries, cancelled, clock, timers };
}

test('a command sends its arguments beside funcname and resolves with the success text', async () => {
    const { host, queries, clock } = fakeHost();
    const bridge = createBridge(host, clock);
    const answer = bridge.call('readDevicesProp', { PARAMID: 40, PARAMSIZE: 1, funcname: 'other' });
    assert.deepEqual(JSON.parse(queries[0].request), { funcname: 'readDevicesProp', PARAMID: 40, PARAMSIZE: 1 });
    queries[0].onSuccess('0x01');
    assert.equal(await answer, '0x01');
});

test('a failure answer rejects with its text, and a late answer after it changes nothing', async () => {
    const { host, queries, clock } = fakeHost();
    const bridge = createBridge(host, clock);
    const answer = bridge.call('writeDevicesProp', {});
    queries[0].onFailure(0, 'writeDevicesProp failed!');
    queries[0].onSuccess('writeDevicesProp success!');
    await assert.rejects(answer, (error) => error.kind === 'failed' && error.text === 'writeDevicesProp failed!');
});

test('a command that never answers times out, is cancelled, and ignores an answer after that', async () => {
    const { host, queries, cancelled, clock, timers } = fakeHost();
    const bridge = createBridge(host, clock);
    const answer = bridge.call('getDevicesList', {}, { timeout: 800 });
    assert.equal(timers[0].ms, 800);
    clock.fire();
    queries[0].onSuccess('[]');
    await assert.rejects(answer, (error) => error.kind === 'timeout' && error.funcname === 'getDevicesList');
    assert.deepEqual(cancelled, [1]);
});

test('an answer in time stops the time-out', async () => {
    const { host, queries, cancelled, clock } = fakeHost();
    const bridge = createBridge(host, clock);
    const answer = bridge.call('savexml');
    queries[0].onSuccess('save xml success');
    clock.fire();
    assert.equal(await answer, 'save xml success');
    assert.deepEqual(cancelled, []);
});

test('without a command channel calls fail at once and nothing is sent', async () => {
    const bridge = createBridge({});
    assert.equal(bridge.available(), false);
    await assert.rejects(bridge.call('getDevicesList'), (error) => error.kind === 'unavailable');
    assert.equal(bridge.send('loadurl', { url: '/x' }), false);
    assert.equal(bridge.on('devicesChanged', () => {}), false);
});

test('window operations go out as raw text, answerless commands as JSON', () => {
    const { host, queries, clock } = fakeHost();
    const bridge = createBridge(host, clock);
    bridge.raw('moveWindow 5,5,800,600');
    bridge.send('playActions', { actionList: '按下(A)' });
    assert.equal(queries[0].request, 'moveWindow 5,5,800,600');
    assert.deepEqual(JSON.parse(queries[1].request), { funcname: 'playActions', actionList: '按下(A)' });
    const seen = [];
    bridge.on('devicesChanged', (args) => seen.push(args[0]));
    host.events.devicesChanged([2]);
    assert.deepEqual(seen, [2]);
});
