// DPI stages and report rate: the 8-byte stage property, the "LINK|X|Y" text the page sends
// with TYPE "DPI", and the polling interval byte.

import { DPI_MAX, DPI_MIN, DPI_STEP, REPORT_RATES } from './model.js';

// [link, x/50 low, x/50 high, y/50 low, y/50 high, 0, 0, 0]
export function decodeDpiStage(bytes) {
    if (!Array.isArray(bytes) || bytes.length < 5) throw new Error('a DPI stage has 8 bytes');
    return {
        link: bytes[0] === 1,
        x: (bytes[1] | (bytes[2] << 8)) * DPI_STEP,
        y: (bytes[3] | (bytes[4] << 8)) * DPI_STEP,
    };
}

// What writeDevicesProp with TYPE "DPI" expects; with LINK 1 the device uses X for both axes.
export function dpiParamData({ link, x, y }) {
    return `${link ? 1 : 0}|${x}|${link ? x : y}`;
}

// A typed DPI value: a number within the sensor's range, on the 50-step grid.
export function checkDpi(text) {
    const trimmed = String(text ?? '').trim();
    if (!/^\d+$/.test(trimmed)) return { ok: false, error: 'dpi.notNumber' };
    const value = Number(trimmed);
    if (value < DPI_MIN || value > DPI_MAX) return { ok: false, error: 'dpi.range' };
    return { ok: true, value: Math.round(value / DPI_STEP) * DPI_STEP };
}

export function rateFromInterval(interval) {
    return REPORT_RATES.find((rate) => rate.interval === interval)?.hz ?? null;
}

export function intervalFromRate(hz) {
    const rate = REPORT_RATES.find((entry) => entry.hz === Number(hz));
    if (!rate) throw new RangeError(`no report rate ${hz} Hz`);
    return rate.interval;
}
