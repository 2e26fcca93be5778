import assert from 'node:assert/strict';
import test from 'node:test';

import { checkDpi, decodeDpiStage, dpiParamData, intervalFromRate, rateFromInterval }
    from '../../resources/appdir/view/device/vm100/js/dpi.js';

test('a DPI stage property reads as link flag and X, Y in steps of 50, high byte included', () => {
    // The simulated mouse's factory stage 2 and what the key-script builder writes for 16000 / 400.
    assert.deepEqual(decodeDpiStage([1, 16, 0, 16, 0, 0, 0, 0]), { link: true, x: 800, y: 800 });
    assert.deepEqual(decodeDpiStage([0, 0x40, 1, 8, 0, 0, 0, 0]), { link: false, x: 16000, y: 400 });
    assert.throws(() => decodeDpiStage([1, 2]));
});

test('a stage is sent as LINK|X|Y; a linked stage sends X for both axes', () => {
    assert.equal(dpiParamData({ link: false, x: 800, y: 400 }), '0|800|400');
    assert.equal(dpiParamData({ link: true, x: 1200, y: 400 }), '1|1200|1200');
});

test('typed DPI values are whole numbers in range, put on the 50 grid', () => {
    assert.deepEqual(checkDpi(' 1000 '), { ok: true, value: 1000 });
    assert.deepEqual(checkDpi('1024'), { ok: true, value: 1000 });
    assert.deepEqual(checkDpi('1030'), { ok: true, value: 1050 });
    assert.deepEqual(checkDpi('16000'), { ok: true, value: 16000 });
    assert.equal(checkDpi('16001').error, 'dpi.range');
    assert.equal(checkDpi('99').error, 'dpi.range');
    for (const text of ['', 'abc', '12.5', '-400', '1e3', undefined]) assert.equal(checkDpi(text).error, 'dpi.notNumber', String(text));
});

test('the report rate and the polling interval byte convert both ways', () => {
    assert.deepEqual([1, 2, 4, 8].map(rateFromInterval), [1000, 500, 250, 125]);
    assert.deepEqual([1000, 500, 250, 125].map(intervalFromRate), [1, 2, 4, 8]);
    assert.equal(rateFromInterval(3), null);
    assert.throws(() => intervalFromRate(2000), RangeError);
});
