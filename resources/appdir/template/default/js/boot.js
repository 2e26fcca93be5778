// Starts a page's ES modules when the page is read from a file: <script src=".../boot.js"
// data-entry="js/main.js">, inserted when the page's own module script fails to load. The engine
// (QtWebEngine 5.15) gives scripts read from file:// no MIME type and refuses them as modules, so
// a page loaded from a file reads its modules as text and starts them from blob URLs, each
// relative import pointing at its dependency's blob. The modules stay plain ES modules.
(function () {
    'use strict';
    var script = document.currentScript;
    var entry = new URL(script.getAttribute('data-entry'), document.baseURI).href;
    var IMPORTS = /(\bimport\s*(?:[\w*{}\s,$]+?\s*from\s*)?|\bexport\s*(?:\*(?:\s*as\s+\w+)?|\{[^}]*\})\s*from\s*)(['"])(\.{1,2}\/[^'"]+)\2/g;
    var loaded = {};

    function readText(url) {
        return new Promise(function (resolve, reject) {
            var request = new XMLHttpRequest();
            request.open('GET', url);
            request.onload = function () {
                if (request.status === 0 || request.status === 200) resolve(request.responseText);
                else reject(new Error(url + ': ' + request.status));
            };
            request.onerror = function () { reject(new Error('cannot read ' + url)); };
            request.send();
        });
    }

    function load(url, chain) {
        if (chain.indexOf(url) >= 0) return Promise.reject(new Error('import cycle at ' + url));
        if (loaded[url]) return loaded[url];
        loaded[url] = readText(url).then(function (source) {
            var specifiers = [];
            source.replace(IMPORTS, function (match, head, quote, specifier) {
                if (specifiers.indexOf(specifier) < 0) specifiers.push(specifier);
                return match;
            });
            var next = chain.concat([url]);
            return Promise.all(specifiers.map(function (specifier) {
                return load(new URL(specifier, url).href, next);
            })).then(function (blobs) {
                var text = source.replace(IMPORTS, function (match, head, quote, specifier) {
                    return head + quote + blobs[specifiers.indexOf(specifier)] + quote;
                });
                var blob = new Blob([text + '\n//# sourceURL=' + url + '\n'], { type: 'text/javascript' });
                return URL.createObjectURL(blob);
            });
        });
        return loaded[url];
    }

    function fail(error) {
        var note = document.getElementById('boot-error');
        if (note) {
            note.hidden = false;
            note.textContent += ' ' + (error && error.message ? error.message : error);
        }
        if (window.console) console.error(error);
    }

    var started = location.protocol === 'file:'
        ? load(entry, []).then(function (url) { return import(url); })
        : import(entry);
    started.catch(fail);
})();
