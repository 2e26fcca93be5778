// Page side of the command channel: every command is a JSON text sent with cefQuery.
(function () {
    'use strict';
    function send(request, onSuccess, onFailure) {
        if (typeof window.cefQuery !== 'function') return;
        window.cefQuery({
            request: request,
            persistent: false,
            onSuccess: onSuccess || function () {},
            onFailure: onFailure || function () {}
        });
    }
    window.velmora = {
        // Commands that give no answer never call back.
        command: function (funcname, args, onSuccess, onFailure) {
            var query = {funcname: funcname};
            for (var key in args || {}) query[key] = args[key];
            send(JSON.stringify(query), onSuccess, onFailure);
        },
        raw: send,
        on: function (eventName, fn) {
            if (typeof window.setMessageCallback === 'function') {
                window.setMessageCallback(eventName, fn);
            }
        }
    };
})();
