// Which mouse the page shows, and following it as it is unplugged and plugged in again.

import { CONF_FILE, createDeviceWatcher, listDevices, parseProductInfo, productInfoXPath } from '../../../../template/default/js/devices.js';
import { createDevice } from './device.js';
import { parseKeyMap } from './keymap.js';
import { inputHardwareId, KEY_MAP_FILE, MODEL } from './model.js';
import { failureReason, text } from './status.js';

// wanted: the device id named in the page address. readDevice: shows what an attached mouse holds.
export function createConnection(page, { wanted, readDevice }) {
    const { bridge, state, $, t, setStatus, report } = page;
    let watcher = null;
    let attaching = false;

    async function loadKeyMap() {
        try {
            const text = await bridge.call('queryProfile', { filePath: KEY_MAP_FILE, xpath: '/conf' });
            state.keyMap = text.trim() ? parseKeyMap(text).entries : [];
            if (state.keyMap.length) {
                await bridge.call('setVDevice', { virtualXmlPath: KEY_MAP_FILE, deviceId: inputHardwareId(state.device.key) })
                    .catch((error) => report('engine', text('status.softUnavailable', { error: failureReason(error) }), 'warn'));
            }
        } catch {
            state.keyMap = [];
        }
    }

    // The device this page shows: the one named in the address, else the first of this model.
    async function pickDevice(devices) {
        const named = devices.find((device) => device.deviceId === wanted);
        if (named) return named;
        for (const device of devices) {
            try {
                const info = parseProductInfo(await bridge.call('queryProfile', { filePath: CONF_FILE, xpath: productInfoXPath(device.key) }));
                if (info?.device === MODEL) return device;
            } catch {
                // Not this one.
            }
        }
        return null;
    }

    async function showModelName(device) {
        try {
            const info = parseProductInfo(await bridge.call('queryProfile', { filePath: CONF_FILE, xpath: productInfoXPath(device.key) }));
            if (info?.name) {
                $('model-name').textContent = info.name;
                document.title = info.name;
            }
        } catch {
            // The model id stays in the title.
        }
    }

    function showConnection(connected) {
        $('connection').textContent = t(connected ? 'device.connected' : 'device.disconnected');
        $('connection').className = `connection ${connected ? 'ok' : 'error'}`;
        $('disconnected').hidden = connected;
    }

    async function onDevices(devices) {
        const present = state.device && devices.some((device) => device.deviceId === state.device.deviceId);
        if (present) {
            showConnection(true);
            return;
        }
        if (state.device) {
            // Gone: everything read from it is stale until it returns.
            state.api = null;
            state.device = null;
            showConnection(false);
            setStatus('status.disconnected', {}, 'error', 'device');
        }
        if (attaching) return;
        attaching = true;
        try {
            const device = await pickDevice(devices);
            if (!device) {
                showConnection(false);
                if (page.statusKey() === 'status.loading') setStatus('status.noDevice', {}, 'error', 'device');
                return;
            }
            state.device = device;
            state.api = createDevice(bridge, device, state.keys);
            showConnection(true);
            $('device-id').textContent = `${device.version} · ${device.sn}`;
            showModelName(device);
            await loadKeyMap();
            await readDevice();
        } finally {
            attaching = false;
        }
    }

    return {
        start() {
            watcher = createDeviceWatcher({
                // A listing that works again takes back the warning of one that did not.
                list: () => listDevices(bridge).then((devices) => {
                    page.clearProblem('listing');
                    return devices;
                }),
                onChange: onDevices,
                onError: (error) => report('listing', text('status.listFailed', { error: failureReason(error) }), 'error'),
            });
            bridge.on('devicesChanged', () => watcher.poke());
            watcher.start();
        },
        pause: () => watcher?.stop(),
        resume: () => watcher?.start(),
        // The connection mark again, in the current language.
        render() {
            if (state.device) showConnection(Boolean(state.api));
        },
    };
}
