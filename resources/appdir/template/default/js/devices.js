// The attached devices: the device list answer, each device's key in conf.xml, its model entry
// (productInfo), the address of its settings page, and a watcher that keeps the list current.

import { childElements, parseFragment, xpathLiteral } from './xml.js';

export const CONF_FILE = 'Resources/conf.xml';
// getDevicesList answers at once when a device is attached and never when none is.
export const LIST_TIMEOUT_MS = 800;
// Pause between listings: with the time-out, a change shows within about two seconds even
// when the library's device events do not reach the page.
export const LIST_PAUSE_MS = 1000;

// conf.xml names a model by vendor id and product id, eight upper-case hex digits.
export function deviceKey(deviceId) {
    const vid = /VID_([0-9A-Fa-f]{4})/.exec(String(deviceId ?? ''));
    const pid = /PID_([0-9A-Fa-f]{4})/.exec(String(deviceId ?? ''));
    return vid && pid ? (vid[1] + pid[1]).toUpperCase() : '';
}

// The getDevicesList answer as device records; an answer that is not a list of devices is an
// error, an entry without an identifier is left out.
export function parseDeviceList(text) {
    const list = JSON.parse(text);
    if (!Array.isArray(list)) throw new Error('device list is not an array');
    return list
        .filter((item) => item && typeof item === 'object' && typeof item.deviceId === 'string' && item.deviceId)
        .map((item) => ({
            deviceId: item.deviceId,
            devicePath: String(item.devicePath ?? ''),
            sn: String(item.sn ?? ''),
            version: String(item.version ?? ''),
            mask: String(item.mask ?? ''),
            key: deviceKey(item.deviceId),
        }));
}

export function productInfoXPath(key) {
    return `/root/conf[@deviceId=${xpathLiteral(key)}]/productInfo`;
}

// The queryProfile answer for productInfo: the page folder and the display name, or null.
export function parseProductInfo(text) {
    const [node] = parseFragment(text);
    if (!node || node.name !== 'productInfo') return null;
    const device = node.attrs.device ?? '';
    // The folder name becomes part of a path: a plain name only.
    if (!/^[A-Za-z0-9_-]+$/.test(device)) return null;
    return { device, name: node.attrs.name || device };
}

// What the tray's currentPropChanged event announces: a DPI stage the mouse took, or the saved
// profile (by its place in the list) the user wants applied.
export const TRAY_CHOICE = { dpiStage: 0, profile: 1 };

// The loadurl argument for a model's settings page (appended to the application folder).
export function settingsPageUrl(model, params = {}) {
    const query = new URLSearchParams(params).toString();
    return `/view/device/${model}/seting.html${query ? `?${query}` : ''}`;
}

// A model page keeps its software macros in this key map; the input filter forgets key maps
// when the program ends, so the main page hands them over again when their device appears.
export function keyMapPath(model) {
    return `profiles/${model}/keymap.xml`;
}

// The input filter's device id of a stored key map that maps anything, or null.
export function keyMapDeviceId(text) {
    const [root] = parseFragment(text);
    if (!root || root.name !== 'conf' || !root.attrs.deviceId || !childElements(root).length) return null;
    return root.attrs.deviceId;
}

export function sameDevices(a, b) {
    if (!a || !b || a.length !== b.length) return false;
    return a.every((device, i) => device.deviceId === b[i].deviceId && device.devicePath === b[i].devicePath
        && device.version === b[i].version && device.sn === b[i].sn);
}

// Lists the devices now; a list that does not answer in time means no device.
export async function listDevices(bridge, timeout = LIST_TIMEOUT_MS) {
    try {
        return parseDeviceList(await bridge.call('getDevicesList', {}, { timeout }));
    } catch (error) {
        if (error?.kind === 'timeout') return [];
        throw error;
    }
}

// Re-lists after every listing and at once when poked (a devicesChanged event); calls
// onChange with the new list whenever it differs, and onError when a listing fails.
export function createDeviceWatcher({ list, onChange, onError = () => {}, pause = LIST_PAUSE_MS,
    setTimer = (fn, ms) => setTimeout(fn, ms), clearTimer = (id) => clearTimeout(id) }) {
    let current = null;
    let timer = null;
    let running = false;
    let again = false;
    let stopped = true;
    // A listing that began before a stop says nothing about the time after it.
    let generation = 0;

    async function run() {
        if (stopped) return;
        if (running) {
            again = true;
            return;
        }
        if (timer !== null) {
            clearTimer(timer);
            timer = null;
        }
        running = true;
        const started = generation;
        try {
            const devices = await list();
            if (!stopped && started === generation && !sameDevices(current, devices)) {
                current = devices;
                onChange(devices);
            }
        } catch (error) {
            if (!stopped && started === generation) onError(error);
        } finally {
            running = false;
        }
        if (stopped) return;
        if (again) {
            again = false;
            run();
        } else {
            timer = setTimer(() => {
                timer = null;
                run();
            }, pause);
        }
    }

    return {
        start() {
            if (!stopped) return;
            stopped = false;
            run();
        },
        poke: () => run(),
        stop() {
            stopped = true;
            generation++;
            if (timer !== null) clearTimer(timer);
            timer = null;
        },
        get devices() {
            return current;
        },
    };
}
