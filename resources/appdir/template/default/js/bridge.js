// Page side of the command channel: every command is a JSON text sent with cefQuery. A command
// answers once, or never (getDevicesList with no device, commands still to come), so every call
// that waits for an answer has a time-out and settles exactly once.

export const DEFAULT_TIMEOUT_MS = 4000;

export class QueryError extends Error {
    // kind: 'failed' (the command answered with a failure), 'timeout' (no answer in time) or
    // 'unavailable' (no command channel in this page).
    constructor(kind, text, funcname) {
        super(`${funcname}: ${kind}${text ? ` (${text})` : ''}`);
        this.kind = kind;
        this.text = text || '';
        this.funcname = funcname;
    }
}

export function createBridge(host = globalThis, options = {}) {
    const defaultTimeout = options.timeout ?? DEFAULT_TIMEOUT_MS;
    const setTimer = options.setTimeout ?? ((fn, ms) => setTimeout(fn, ms));
    const clearTimer = options.clearTimeout ?? ((id) => clearTimeout(id));

    function available() {
        return typeof host.cefQuery === 'function';
    }

    // Sends the request text and waits for its one answer.
    function request(text, funcname, timeout = defaultTimeout) {
        return new Promise((resolve, reject) => {
            if (!available()) {
                reject(new QueryError('unavailable', '', funcname));
                return;
            }
            let settled = false;
            let id = null;
            const timer = setTimer(() => {
                if (settled) return;
                settled = true;
                // The answer can no longer be used; let the router forget the query.
                if (id !== null && typeof host.cefQueryCancel === 'function') host.cefQueryCancel(id);
                reject(new QueryError('timeout', '', funcname));
            }, timeout);
            const finish = (fn) => {
                if (settled) return;
                settled = true;
                clearTimer(timer);
                fn();
            };
            id = host.cefQuery({
                request: text,
                persistent: false,
                onSuccess: (answer) => finish(() => resolve(answer == null ? '' : String(answer))),
                onFailure: (code, answer) =>
                    finish(() => reject(new QueryError('failed', answer == null ? '' : String(answer), funcname))),
            });
        });
    }

    function queryText(funcname, args) {
        // funcname first for the log, and never replaced by an argument of that name.
        return JSON.stringify(Object.assign({ funcname }, args, { funcname }));
    }

    return {
        available,
        // A command that answers: resolves with the success text, rejects with a QueryError.
        call(funcname, args = {}, callOptions = {}) {
            return request(queryText(funcname, args), funcname, callOptions.timeout ?? defaultTimeout);
        },
        // A command that never answers (loadurl, openView, closeView, playActions ...).
        send(funcname, args = {}) {
            if (!available()) return false;
            host.cefQuery({ request: queryText(funcname, args), persistent: false,
                onSuccess() {}, onFailure() {} });
            return true;
        },
        // Requests that are not JSON: the window operations handled before the dispatcher.
        raw(text) {
            if (!available()) return false;
            host.cefQuery({ request: text, persistent: false, onSuccess() {}, onFailure() {} });
            return true;
        },
        // Pushed events; the first registration of a name stays for the page's life.
        on(eventName, fn) {
            if (typeof host.setMessageCallback !== 'function') return false;
            host.setMessageCallback(eventName, fn);
            return true;
        },
    };
}
