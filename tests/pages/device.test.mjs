import assert from 'node:assert/strict';
import test from 'node:test';

import { parseByteList, toParamData } from '../../resources/appdir/view/device/vm100/js/bytes.js';
import { createDevice } from '../../resources/appdir/view/device/vm100/js/device.js';
import { keys } from './keytable.mjs';

const hex = (bytes) => bytes.map((b) => `0x${b.toString(16).padStart(2, '0')}`).join(',');

// The simulated mouse's factory state behind a command channel.
function fakeBridge() {
    const props = {
        40: [1], 42: [1, 100, 3, 0, 0x80, 0xff, 0, 1, 0, 0], 43: [4, 1, 0, 0, 0, 0, 0, 0, 0, 0], 44: [1, 50, 0, 0, 0, 0, 0, 0, 0, 0],
        48: [1], 50: [1, 8, 0, 8, 0, 0, 0, 0], 51: [1, 16, 0, 16, 0, 0, 0, 0], 52: [1, 32, 0, 32, 0, 0, 0, 0],
        53: [1, 64, 0, 64, 0, 0, 0, 0], 54: [1, 128, 0, 128, 0, 0, 0, 0],
    };
    const factory = [[1, 1], [1, 2], [1, 4], [4, 0, 1, 6], [1, 0x10], [3, 1], [3, 2]];
    for (let id = 1; id <= 16; id++) props[id] = [...(factory[id - 1] ?? []), ...new Array(16).fill(0)].slice(0, 16);
    const memory = new Array(0x4000).fill(0);
    memory.splice(0x1100, 6, 0x84, 0x04, 0, 0x07, 1, 0);
    const sent = [];
    return {
        sent,
        props,
        call(funcname, args) {
            sent.push({ funcname, ...args });
            switch (funcname) {
                case 'readDevicesProp':
                    return Promise.resolve(hex(props[args.PARAMID].slice(0, args.PARAMSIZE)));
                case 'readByAddr': {
                    const at = parseInt(args.PARAMADDRESS, 16);
                    return Promise.resolve(hex(memory.slice(at, at + args.PARAMSIZE)));
                }
                case 'writeDevicesProp':
                    if (args.TYPE && args.TYPE !== 'mouseFunc') return Promise.resolve('writeDevicesProp success!');
                    props[args.PARAMID].splice(0, args.PARAMSIZE, ...parseByteList(args.PARAMDATA, args.PARAMSIZE));
                    return Promise.resolve('writeDevicesProp success!');
                default:
                    return Promise.reject(Object.assign(new Error(funcname), { kind: 'failed', text: `${funcname} failed!` }));
            }
        },
    };
}

const DEVICE = { deviceId: 'HID\\VID_04D9&PID_A0D2&MI_01\\7', devicePath: '\\\\?\\hid#x', key: '04D9A0D2' };

test('every setting is read from the device, the device macro with its actions', async () => {
    const bridge = fakeBridge();
    const settings = await createDevice(bridge, DEVICE, keys).readAll();
    assert.deepEqual(settings.dpi.map((stage) => stage.x), [400, 800, 1600, 3200, 6400]);
    assert.equal(settings.dpiStage, 1);
    assert.equal(settings.reportInterval, 1);
    assert.equal(settings.lighting.color, '#0080ff');
    assert.deepEqual(settings.debounce, { time: 4, liftOff: 1, rest: [0, 0, 0, 0, 0, 0, 0, 0] });
    assert.equal(settings.sound.volume, 50);
    assert.deepEqual(settings.buttons[2], { kind: 'mouse', code: 2 });
    assert.deepEqual(settings.buttons[4], { kind: 'macro', slot: 1, length: 6, actions: [{ type: 'down', key: 'A' }], loop: 1 });
    assert.ok(bridge.sent.every((query) => query.HardwareID === DEVICE.deviceId && query.DevicePath === DEVICE.devicePath));
    assert.ok(bridge.sent.some((query) => query.funcname === 'readByAddr' && query.PARAMADDRESS === '0x1100' && query.PARAMSIZE === 200));
});

test('a read that fails or does not answer spoils only its own part', async () => {
    const bridge = fakeBridge();
    const original = bridge.call;
    bridge.call = (funcname, args) => (args.PARAMID === 42
        ? Promise.reject(Object.assign(new Error('t'), { kind: 'timeout' })) : original(funcname, args));
    bridge.props[43] = [4];
    const settings = await createDevice(bridge, DEVICE, keys).readAll();
    assert.equal(settings.lighting.kind, 'timeout');
    assert.ok(settings.debounce instanceof Error);
    assert.equal(settings.sound.volume, 50);
    assert.equal(settings.dpi.length, 5);
});

test('writes name the property, the size and the data the device expects', async () => {
    const bridge = fakeBridge();
    const device = createDevice(bridge, DEVICE, keys);
    await device.writeDpiStage(2, { link: false, x: 1200, y: 800 });
    await device.writeDpiActive(4);
    await device.writeReportInterval(8);
    await device.writeSound({ on: false, volume: 20, rest: [] });
    await device.writeButton(4, { kind: 'macro', macro: 'm', loop: 2 }, { actions: [{ type: 'down', key: 'A' }, { type: 'up', key: 'A' }] });
    await device.writeButton(2, { kind: 'hotkey', keys: ['ALT', 'F4'] });
    const writes = bridge.sent.filter((query) => query.funcname === 'writeDevicesProp')
        .map(({ PARAMID, PARAMSIZE, PARAMDATA, TYPE, LOOP }) => ({ PARAMID, PARAMSIZE, PARAMDATA, TYPE, LOOP }));
    assert.deepEqual(writes, [
        { PARAMID: 52, PARAMSIZE: 8, PARAMDATA: '0|1200|800', TYPE: 'DPI', LOOP: undefined },
        { PARAMID: 48, PARAMSIZE: 1, PARAMDATA: '0x04', TYPE: undefined, LOOP: undefined },
        { PARAMID: 40, PARAMSIZE: 1, PARAMDATA: '0x08', TYPE: undefined, LOOP: undefined },
        { PARAMID: 44, PARAMSIZE: 10, PARAMDATA: toParamData([0, 20, 0, 0, 0, 0, 0, 0, 0, 0]), TYPE: undefined, LOOP: undefined },
        { PARAMID: 4, PARAMSIZE: 4, PARAMDATA: '按下(A)弹起(A)', TYPE: 'macro', LOOP: '0x02' },
        { PARAMID: 2, PARAMSIZE: 4, PARAMDATA: 'ALT+F4', TYPE: 'hotKey', LOOP: undefined },
    ]);
    assert.deepEqual(bridge.props[48], [4]);
});

test('a write the device refuses is an error the page can show', async () => {
    const bridge = fakeBridge();
    bridge.call = () => Promise.reject(Object.assign(new Error('w'), { kind: 'failed', text: 'writeDevicesProp failed!' }));
    await assert.rejects(createDevice(bridge, DEVICE, keys).writeReportInterval(2), (error) => error.text === 'writeDevicesProp failed!');
});

test('macro slots are cleared and tested by the addresses of the key-definition file', async () => {
    const bridge = fakeBridge();
    bridge.call = (funcname, args) => {
        bridge.sent.push({ funcname, ...args });
        return Promise.resolve(funcname === 'isPropEmpty' ? 'false' : 'cleanMacroByAddr success!');
    };
    const device = createDevice(bridge, DEVICE, keys);
    await device.clearSlot(29);
    assert.equal(await device.slotIsEmpty(3), false);
    assert.deepEqual(bridge.sent.map(({ funcname, PARAMADDRESS, PARAMSIZE }) => [funcname, PARAMADDRESS, PARAMSIZE]),
        [['cleanMacroByAddr', '0x2d00', 200], ['isPropEmpty', '0x1300', 200]]);
    await assert.rejects(device.clearSlot(30));
});
