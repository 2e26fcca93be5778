// The system's own mouse settings: the getWindowsMouseConfig report and the levels the setters
// take. The report and the setters use different scales; these conversions bridge them.

// "name:value,value,...,name:value": values never hold ":", names start each item.
export function parseMouseReport(text) {
    const items = {};
    let current = null;
    for (const token of String(text ?? '').split(',')) {
        const colon = token.indexOf(':');
        if (colon >= 0) {
            current = token.slice(0, colon).trim();
            items[current] = [token.slice(colon + 1).trim()];
        } else if (current !== null) {
            items[current].push(token.trim());
        }
    }
    const number = (name) => {
        const value = items[name]?.[0];
        return value !== undefined && /^-?\d+$/.test(value) ? Number(value) : null;
    };
    return {
        speed: number('defaultMouseSpeed'),
        acceleration: number('defaultMouseAccel'),
        scrollLines: number('defaultScrollLinesY'),
        scrollChars: number('defaultScrollLinesX'),
        doubleClick: number('defaultMouseDoubleClick'),
    };
}

// Pointer speed: the report gives the system speed (1-20) halved, the setter takes level L for
// speed L + 6 (levels 0-9). Halving loses a step, so the level the user set last is kept and
// shown while the report still agrees with it.
export const SPEED_LEVELS = { min: 0, max: 9 };
export function speedLevelFromReport(half, remembered = null) {
    if (half === null) return null;
    if (Number.isInteger(remembered) && Math.floor((remembered + 6) / 2) === half) return remembered;
    return Math.min(SPEED_LEVELS.max, Math.max(SPEED_LEVELS.min, 2 * half - 6));
}

// Acceleration: the setter's levels by strength, and the report levels each one reads back as.
// Set level 1 and 3 differ only in thresholds, so a report of 1 is shown as the weaker one.
export const ACCELERATION = [
    { name: 'off', level: 0, report: 0 },
    { name: 'low', level: 1, report: 1 },
    { name: 'medium', level: 3, report: 1 },
    { name: 'high', level: 2, report: 8 },
];
export function accelerationFromReport(report) {
    return ACCELERATION.find((entry) => entry.report === report)?.name ?? 'other';
}
export function accelerationLevel(name) {
    const entry = ACCELERATION.find((candidate) => candidate.name === name);
    if (!entry) throw new RangeError(`no acceleration ${name}`);
    return entry.level;
}

// Double-click time: the report gives a level of its own table or, off the table, milliseconds;
// the setter takes level L for 970 - 70 L ms (levels 0-11).
const REPORT_DOUBLE_CLICK_MS = [970, 890, 780, 650, 550, 480, 410, 340, 270, 200];
export const DOUBLE_CLICK_LEVELS = { min: 0, max: 11 };
export function doubleClickMs(level) {
    return 970 - 70 * level;
}
export function doubleClickMsFromReport(value) {
    if (value === null) return null;
    return value >= 0 && value < REPORT_DOUBLE_CLICK_MS.length ? REPORT_DOUBLE_CLICK_MS[value] : value;
}
export function doubleClickLevelFromReport(value) {
    const ms = doubleClickMsFromReport(value);
    if (ms === null) return null;
    const level = Math.round((970 - ms) / 70);
    return Math.min(DOUBLE_CLICK_LEVELS.max, Math.max(DOUBLE_CLICK_LEVELS.min, level));
}

export const SCROLL_LINES = { min: 1, max: 20 };
