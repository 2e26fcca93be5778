import assert from 'node:assert/strict';
import test from 'node:test';

import { accelerationFromReport, accelerationLevel, doubleClickLevelFromReport, doubleClickMs, parseMouseReport,
    speedLevelFromReport } from '../../resources/appdir/view/device/vm100/js/mousecfg.js';

test('the mouse settings report is read by item name, past the device items that hold commas', () => {
    const report = 'reporVal:1,curDpi:1,DpiXVal:800,DpiYVal:800,lightVal:1,100,3,080ff,0,1,0,jittersVal:4,1,soundVal:1,50,'
        + 'defaultMouseAccel:8,defaultScrollLinesX:3,defaultMouseSpeed:5,defaultMouseDoubleClick:550,defaultScrollLinesY:7';
    assert.deepEqual(parseMouseReport(report), { speed: 5, acceleration: 8, scrollLines: 7, scrollChars: 3, doubleClick: 550 });
    assert.deepEqual(parseMouseReport('garbage'), { speed: null, acceleration: null, scrollLines: null, scrollChars: null, doubleClick: null });
});

test('the reported speed (half the system speed) becomes the setter\'s level', () => {
    // System speed 10 is reported as 5 and set as level 4 (4 + 6).
    assert.equal(speedLevelFromReport(5), 4);
    assert.equal(speedLevelFromReport(10), 9);
    assert.equal(speedLevelFromReport(1), 0);
    assert.equal(speedLevelFromReport(null), null);
});

test('acceleration levels read back from the report table', () => {
    assert.equal(accelerationFromReport(0), 'off');
    assert.equal(accelerationFromReport(1), 'low');
    assert.equal(accelerationFromReport(8), 'high');
    assert.equal(accelerationFromReport(4), 'other');
    assert.deepEqual(['off', 'low', 'medium', 'high'].map(accelerationLevel), [0, 1, 3, 2]);
    assert.throws(() => accelerationLevel('other'), RangeError);
});

test('double-click: a report level or milliseconds becomes the nearest setter level', () => {
    assert.equal(doubleClickLevelFromReport(0), 0);       // 970 ms
    assert.equal(doubleClickLevelFromReport(4), 6);       // 550 ms
    assert.equal(doubleClickMs(6), 550);
    assert.equal(doubleClickLevelFromReport(500), 7);     // 480 ms is nearest
    assert.equal(doubleClickLevelFromReport(9), 11);      // 200 ms
    assert.equal(doubleClickLevelFromReport(1500), 0);
    assert.equal(doubleClickLevelFromReport(null), null);
});

test('the speed level set last stays shown while the halved report agrees with it', () => {
    for (const [half, remembered, level] of [
        [5, 4, 4], [5, 5, 5], [6, 6, 6], [6, 7, 7], [3, 0, 0],
        // Without a remembered level, or one the system no longer has, the report decides.
        [5, null, 4], [5, 7, 4], [7, 4, 8], [null, 4, null],
    ]) {
        assert.equal(speedLevelFromReport(half, remembered), level, `${half} with ${remembered}`);
    }
});
