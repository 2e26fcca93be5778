// What the page tells the user. Messages are kept as text keys with their values, so they are
// drawn in whichever language is current; a failed command is described by what it was doing,
// never by the native side's own failure text; and the status bar keeps one message per subject,
// so the next outcome of the same thing replaces a warning that no longer holds.

// A text: a key of the language tables with its values, which may be texts or lists themselves.
export function text(key, params = {}) {
    return { key, params };
}

// Items shown as one run of text: short ones ("Back button, Forward button") or long ones, each
// a sentence of its own.
export function list(items, { long = false } = {}) {
    return { items, separator: long ? 'list.long' : 'list.short' };
}

export function render(value, t) {
    if (value && typeof value === 'object' && typeof value.key === 'string') {
        const params = {};
        for (const [name, item] of Object.entries(value.params ?? {})) params[name] = render(item, t);
        return t(value.key, params);
    }
    if (value && typeof value === 'object' && Array.isArray(value.items)) {
        return value.items.map((item) => render(item, t)).join(t(value.separator));
    }
    return String(value ?? '');
}

// Where a command works, by its name.
const AREA_OF_COMMAND = {
    writeDevicesProp: 'mouseWrite',
    writeByAddr: 'mouseWrite',
    writeMacroByAddr: 'mouseWrite',
    cleanMacroByAddr: 'mouseWrite',
    readDevicesProp: 'mouseRead',
    readByAddr: 'mouseRead',
    isPropEmpty: 'mouseRead',
    getDevicesList: 'mouseRead',
    queryProfile: 'fileRead',
    modifyProfileXml: 'fileSave',
    savexml: 'fileSave',
    getWindowsMouseConfig: 'system',
    modifyMouseSpeed: 'system',
    modifyMouseAcce: 'system',
    modifyMouseScrollLines: 'system',
    modifyMouseScrollLinesX: 'system',
    modifyMouseDoubleClick: 'system',
    setVDevice: 'engine',
    closeVDevice: 'engine',
};

export const FAILURE_AREAS = ['input', 'partial', 'mouseWrite', 'mouseRead', 'fileRead', 'fileSave', 'system', 'engine', 'other'];

const STATUS_OF_AREA = {
    input: 'status.notApplied',
    partial: 'status.partly',
    mouseWrite: 'status.writeFailed',
    mouseRead: 'status.mouseReadFailed',
    fileRead: 'status.fileReadFailed',
    fileSave: 'status.fileSaveFailed',
    system: 'status.systemFailed',
    engine: 'status.engineFailed',
    other: 'status.failed',
};

// A change the page itself refuses, or a step that only partly worked, with the reason in the
// user's words. area: 'input' for a value that cannot be used, or the area the reason concerns.
export function problem(key, params = {}, area = 'input') {
    const error = new Error(key);
    error.reason = text(key, params);
    error.area = area;
    return error;
}

export function failureArea(error) {
    if (error?.reason) return error.area ?? 'input';
    return AREA_OF_COMMAND[error?.funcname] ?? 'other';
}

// Why something did not happen, as a text.
export function failureReason(error) {
    if (error?.reason) return error.reason;
    if (error?.kind === 'timeout') return text('why.timeout');
    if (error?.kind === 'unavailable') return text('why.unavailable');
    if (error?.kind === 'failed') return text(`why.${failureArea(error)}`);
    // Answers that could not be read, or a fault of the page itself.
    return text('why.unexpected');
}

// The status bar's sentence for a failed change: a write to the mouse is reported as such, a
// refused value, a file or a system setting each in its own words.
export function failureStatus(error) {
    return text(STATUS_OF_AREA[failureArea(error)], { error: failureReason(error) });
}

// The short mark on the card of a failed change.
export function failureMark(error) {
    const area = failureArea(error);
    if (area === 'mouseWrite') return 'state.failed';
    if (area === 'fileSave') return 'state.notSaved';
    if (area === 'partial') return 'state.partly';
    return 'state.notApplied';
}

const isProblem = (entry) => entry.kind === 'error' || entry.kind === 'warn';

// The status bar's messages, one per subject (a card, the connection, a file). A new message of
// a subject replaces the subject's last one; resolving a subject drops it. The bar shows the
// newest message, or once that has been dropped, the newest problem still standing.
export function createStatusBoard() {
    let entries = [];
    let shown = null;
    return {
        report(subject, message, kind = '') {
            entries = entries.filter((entry) => entry.subject !== subject);
            shown = { subject, message, kind };
            entries.push(shown);
        },
        resolve(subject) {
            entries = entries.filter((entry) => entry.subject !== subject);
            if (shown?.subject === subject) shown = [...entries].reverse().find(isProblem) ?? null;
        },
        shown: () => shown,
        // The subject's problem while it stands, for the note beside the subject's controls.
        problem(subject) {
            const entry = entries.find((candidate) => candidate.subject === subject);
            return entry && isProblem(entry) ? entry : null;
        },
    };
}
