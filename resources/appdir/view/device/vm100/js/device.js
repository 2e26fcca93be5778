// One attached VM100 through the device commands: reading every setting, and writing one.
// Each read stands alone, so a part that does not answer leaves the others usable.

import { parseByteList, toParamData } from './bytes.js';
import { assignmentRequest, decodeAssignment } from './buttons.js';
import { decodeDpiStage, dpiParamData } from './dpi.js';
import { decodeDebounce, decodeLighting, decodeSound, encodeDebounce, encodeLighting, encodeSound } from './lighting.js';
import { decodeDeviceMacro, deviceActionText } from './macro.js';
import { BUTTONS, DPI_STAGES, MACRO_SLOT_ITEMS, PROP, SIZE } from './model.js';

export function createDevice(bridge, device, keys) {
    const ids = { HardwareID: device.deviceId, DevicePath: device.devicePath };

    async function readProp(id, size) {
        return parseByteList(await bridge.call('readDevicesProp', { ...ids, PARAMID: id, PARAMSIZE: size }), size);
    }

    async function write(members) {
        await bridge.call('writeDevicesProp', { ...ids, ...members });
    }

    const writeRaw = (id, bytes) => write({ PARAMID: id, PARAMSIZE: bytes.length, PARAMDATA: toParamData(bytes) });

    async function readSlot(slot) {
        const address = keys.slotAddress(slot);
        if (address === undefined) throw new Error(`no macro slot ${slot}`);
        return parseByteList(await bridge.call('readByAddr', { ...ids, PARAMADDRESS: `0x${address.toString(16)}`,
            PARAMSIZE: MACRO_SLOT_ITEMS }), MACRO_SLOT_ITEMS);
    }

    async function readButton(id) {
        const assignment = decodeAssignment(await readProp(id, SIZE.button), keys);
        if (assignment.kind === 'macro') {
            try {
                const stored = decodeDeviceMacro(await readSlot(assignment.slot), keys);
                if (stored) Object.assign(assignment, { actions: stored.actions, loop: stored.loop });
            } catch {
                // The button still shows that it plays a device macro.
            }
        }
        return assignment;
    }

    // Each part is a value or an Error.
    const settle = (promise) => promise.then((value) => value, (error) => (error instanceof Error ? error : new Error(String(error))));

    return {
        ids,
        device,
        readProp,
        readSlot,
        async readAll() {
            const [dpi, dpiStage, reportRate, lighting, debounce, sound, ...buttons] = await Promise.all([
                settle(Promise.all(Array.from({ length: DPI_STAGES }, (_, i) => readProp(PROP.dpiFirst + i, SIZE.dpi)
                    .then(decodeDpiStage)))),
                settle(readProp(PROP.dpiStage, SIZE.dpiStage).then(([value]) => value)),
                settle(readProp(PROP.reportRate, SIZE.reportRate).then(([value]) => value)),
                settle(readProp(PROP.lighting, SIZE.lighting).then(decodeLighting)),
                settle(readProp(PROP.debounce, SIZE.debounce).then(decodeDebounce)),
                settle(readProp(PROP.sound, SIZE.sound).then(decodeSound)),
                ...BUTTONS.map((button) => settle(readButton(button.id))),
            ]);
            return {
                dpi, dpiStage, reportInterval: reportRate, lighting, debounce, sound,
                buttons: Object.fromEntries(BUTTONS.map((button, i) => [button.id, buttons[i]])),
            };
        },
        readButton,
        writeDpiStage: (index, stage) => write({ TYPE: 'DPI', PARAMID: PROP.dpiFirst + index, PARAMSIZE: SIZE.dpi,
            PARAMDATA: dpiParamData(stage) }),
        writeDpiActive: (index) => writeRaw(PROP.dpiStage, [index]),
        writeReportInterval: (interval) => writeRaw(PROP.reportRate, [interval]),
        writeLighting: (lighting) => writeRaw(PROP.lighting, encodeLighting(lighting)),
        writeDebounce: (debounce) => writeRaw(PROP.debounce, encodeDebounce(debounce)),
        writeSound: (sound) => writeRaw(PROP.sound, encodeSound(sound)),
        // macro: the actions of a device macro; the body goes into a free slot.
        writeButton: (id, assignment, macro = null) => write(assignmentRequest(id, assignment,
            macro ? deviceActionText(macro.actions) : '', assignment.loop ?? 1)),
        async clearSlot(slot) {
            const address = keys.slotAddress(slot);
            if (address === undefined) throw new Error(`no macro slot ${slot}`);
            await bridge.call('cleanMacroByAddr', { ...ids, PARAMADDRESS: `0x${address.toString(16)}`, PARAMSIZE: MACRO_SLOT_ITEMS });
        },
        async slotIsEmpty(slot) {
            const address = keys.slotAddress(slot);
            return (await bridge.call('isPropEmpty', { ...ids, PARAMADDRESS: `0x${address.toString(16)}`,
                PARAMSIZE: MACRO_SLOT_ITEMS })) === 'true';
        },
    };
}
