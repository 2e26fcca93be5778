// Carries named messages between a page and the browser side over the web channel,
// holding early messages until the channel is up.
(function () {
    'use strict';
    if (window.__velmoraEngine) return;
    var host = null;
    var outbox = [];
    var handler = null;
    window.__velmoraEngine = {
        postMessage: function (name, args) {
            if (host) {
                host.postMessage(name, args);
            } else {
                outbox.push([name, args]);
            }
        },
        setMessageHandler: function (fn) {
            handler = fn;
        }
    };
    new QWebChannel(qt.webChannelTransport, function (channel) {
        host = channel.objects.velmoraHost;
        host.processMessage.connect(function (name, args) {
            if (handler) handler(name, args);
        });
        var queued = outbox;
        outbox = [];
        for (var i = 0; i < queued.length; ++i) host.postMessage(queued[i][0], queued[i][1]);
    });
})();
