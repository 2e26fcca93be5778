// The renderer side of the page bridge: "cefQuery", "cefQueryCancel" and
// "setMessageCallback" for the page. The engine's transport (window.__velmoraEngine)
// carries named messages to and from the browser side.
(function () {
    'use strict';
    if (window.cefQuery || !window.__velmoraEngine) return;

    var EVENT_NAMES = ['keyDown', 'mouseMove', 'devicesChanged', 'currentPropChanged',
        'navStateChanged', 'onSwitchVirtualDevice', 'onBrowserMsg', 'macroItem',
        'onDeviceData'];
    var engine = window.__velmoraEngine;
    var nextQueryId = 1;
    var pendingQueries = {};
    var callbacks = {};

    function post(name, args) {
        engine.postMessage(name, args);
    }

    // Values the browser side could not express arrive as null and stay empty slots.
    function pageArray(values) {
        var array = new Array(values.length);
        for (var i = 0; i < values.length; ++i) {
            var value = values[i];
            if (value === null || value === undefined) continue;
            array[i] = Array.isArray(value) ? pageArray(value) : value;
        }
        return array;
    }

    window.cefQuery = function (query) {
        if (!query || typeof query.request !== 'string') {
            throw new Error('cefQuery needs a request text');
        }
        var id = nextQueryId++;
        pendingQueries[id] = {
            onSuccess: query.onSuccess,
            onFailure: query.onFailure,
            persistent: !!query.persistent
        };
        post('cefQueryMsg', [id, query.request, !!query.persistent]);
        return id;
    };

    window.cefQueryCancel = function (id) {
        if (!pendingQueries.hasOwnProperty(id)) return;
        delete pendingQueries[id];
        post('cefQueryCancelMsg', [id]);
    };

    // The first registration of a name stays until the page goes away.
    window.setMessageCallback = function (name, fn) {
        if (arguments.length !== 2 || typeof name !== 'string' || typeof fn !== 'function') {
            return;
        }
        if (!callbacks.hasOwnProperty(name)) callbacks[name] = fn;
    };

    function answer(args) {
        var query = pendingQueries[args[0]];
        if (!query) return;
        if (!query.persistent) delete pendingQueries[args[0]];
        if (args[1]) {
            if (typeof query.onSuccess === 'function') query.onSuccess(args[3]);
        } else if (typeof query.onFailure === 'function') {
            query.onFailure(args[2], args[3]);
        }
    }

    function deliver(name, args) {
        if (name === 'cefQueryResult') {
            answer(args);
            return;
        }
        if (EVENT_NAMES.indexOf(name) < 0 || !callbacks.hasOwnProperty(name)) return;
        callbacks[name](pageArray(args));
    }

    engine.setMessageHandler(deliver);
})();
