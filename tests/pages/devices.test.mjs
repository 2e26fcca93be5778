import assert from 'node:assert/strict';
import test from 'node:test';

import { createDeviceWatcher, deviceKey, keyMapDeviceId, listDevices, parseDeviceList, parseProductInfo,
    productInfoXPath, settingsPageUrl } from '../../resources/appdir/template/default/js/devices.js';

const SIM_ID = 'HID\\VID_04D9&PID_A0D2&MI_01\\7&2A4C1F3E&0&0000';

test('a device is found in conf.xml by its vendor and product id', () => {
    assert.equal(deviceKey(SIM_ID), '04D9A0D2');
    assert.equal(deviceKey('HID\\Vid_04d9&Pid_b0d2'), '');
    assert.equal(deviceKey('HID\\VID_04d9&PID_a0d2'), '04D9A0D2');
    assert.equal(deviceKey('ACPI\\PNP0F0E'), '');
    assert.equal(productInfoXPath('04D9A0D2'), "/root/conf[@deviceId='04D9A0D2']/productInfo");
});

test('the device list answer keeps devices with an identifier and refuses other answers', () => {
    const list = parseDeviceList(JSON.stringify([
        { sid: '', deviceId: SIM_ID, type: '', devicePath: '\\\\?\\hid#x', sn: 'VM1', version: 'V1.00', mask: '1' },
        { deviceId: '' }, null, 'x',
    ]));
    assert.equal(list.length, 1);
    assert.deepEqual(list[0], { deviceId: SIM_ID, devicePath: '\\\\?\\hid#x', sn: 'VM1', version: 'V1.00', mask: '1', key: '04D9A0D2' });
    assert.throws(() => parseDeviceList('{"deviceId":"x"}'));
    assert.throws(() => parseDeviceList('not json'));
});

test('a listing that does not answer means no device; a failure is passed on', async () => {
    const silent = { call: () => Promise.reject(Object.assign(new Error('t'), { kind: 'timeout' })) };
    assert.deepEqual(await listDevices(silent), []);
    const broken = { call: () => Promise.resolve('{}') };
    await assert.rejects(listDevices(broken));
});

test('productInfo names the page folder and the display name; an unsafe folder is refused', () => {
    assert.deepEqual(parseProductInfo('<productInfo device="vm100" name="Velmora VM100" />\n'), { device: 'vm100', name: 'Velmora VM100' });
    assert.deepEqual(parseProductInfo('<productInfo device="vm100" />'), { device: 'vm100', name: 'vm100' });
    assert.equal(parseProductInfo(''), null);
    assert.equal(parseProductInfo('<productInfo device="../../x" name="n" />'), null);
    assert.equal(parseProductInfo('<other device="vm100" />'), null);
});

test('the settings page address carries the device and the language', () => {
    const url = settingsPageUrl('vm100', { device: SIM_ID, lang: 'en' });
    assert.ok(url.startsWith('/view/device/vm100/seting.html?'));
    const params = new URLSearchParams(url.split('?')[1]);
    assert.equal(params.get('device'), SIM_ID);
    assert.equal(params.get('lang'), 'en');
    assert.equal(settingsPageUrl('vm100'), '/view/device/vm100/seting.html');
});

test('a stored key map is handed over only when it maps something for a device', () => {
    assert.equal(keyMapDeviceId('<conf deviceId="HID\\VID_04D9&amp;PID_A0D2&amp;REV_0100&amp;MI_00">\n\t<button5 scanCode="256" flag="10" />\n</conf>\n'),
        'HID\\VID_04D9&PID_A0D2&REV_0100&MI_00');
    assert.equal(keyMapDeviceId('<conf deviceId="x" />'), null);
    assert.equal(keyMapDeviceId('<conf><b scanCode="4" /></conf>'), null);
    assert.equal(keyMapDeviceId(''), null);
});

// Lists answered from a script, with timers the test runs by hand.
function watcherWith(lists) {
    const timers = [];
    const changes = [];
    const errors = [];
    let calls = 0;
    let release = null;
    const watcher = createDeviceWatcher({
        list: () => {
            const next = lists[Math.min(calls++, lists.length - 1)];
            if (next === 'hold') return new Promise((resolve) => { release = resolve; });
            return next instanceof Error ? Promise.reject(next) : Promise.resolve(next);
        },
        onChange: (devices) => changes.push(devices.map((device) => device.deviceId)),
        onError: (error) => errors.push(error.message),
        setTimer: (fn, ms) => timers.push({ fn, ms }) - 1,
        clearTimer: (id) => { timers[id] = null; },
    });
    const tick = async () => {
        const pending = timers.map((timer, i) => [timer, i]).filter(([timer]) => timer);
        for (const [timer, i] of pending) {
            timers[i] = null;
            timer.fn();
        }
        await new Promise((resolve) => setImmediate(resolve));
    };
    return { watcher, timers, changes, errors, tick, get calls() { return calls; }, release: (value) => release(value) };
}

const device = (id) => ({ deviceId: id, devicePath: 'p', version: 'V1', sn: 's' });

test('the watcher reports the first list and every change, and keeps listing', async () => {
    const w = watcherWith([[], [], [device('a')], [device('a')], []]);
    w.watcher.start();
    await w.tick();
    assert.deepEqual(w.changes, [[]]);
    for (let i = 0; i < 4; i++) await w.tick();
    assert.deepEqual(w.changes, [[], ['a'], []]);
    assert.ok(w.timers.some((timer) => timer && timer.ms === 1000));
});

test('a devicesChanged event during a listing lists once more right after it', async () => {
    const w = watcherWith(['hold', [device('b')]]);
    w.watcher.start();
    w.watcher.poke();
    w.watcher.poke();
    assert.equal(w.calls, 1);
    w.release([]);
    await new Promise((resolve) => setImmediate(resolve));
    await new Promise((resolve) => setImmediate(resolve));
    assert.equal(w.calls, 2);
    assert.deepEqual(w.changes, [[], ['b']]);
});

test('a failed listing is reported and listing goes on; a stopped watcher stays quiet', async () => {
    const w = watcherWith([new Error('broken'), [device('c')]]);
    w.watcher.start();
    await w.tick();
    assert.deepEqual(w.errors, ['broken']);
    await w.tick();
    assert.deepEqual(w.changes, [['c']]);
    w.watcher.stop();
    assert.ok(w.timers.every((timer) => timer === null));
    w.watcher.poke();
    await w.tick();
    assert.equal(w.calls, 2);
});

test('a listing that began before a pause is not reported after it', async () => {
    const w = watcherWith([[device('d')], 'hold', [device('d')]]);
    w.watcher.start();
    await w.tick();
    await w.tick();
    assert.equal(w.calls, 2);
    // A file dialog opens and closes while the second listing waits for its time-out.
    w.watcher.stop();
    w.watcher.start();
    w.release([]);
    await new Promise((resolve) => setImmediate(resolve));
    await new Promise((resolve) => setImmediate(resolve));
    assert.equal(w.calls, 3);
    assert.deepEqual(w.changes, [['d']]);
});
