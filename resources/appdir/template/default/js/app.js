// The main page: the attached device, its DPI levels, and the window's own buttons.
(function () {
    'use strict';
    var device = null;

    function setStatus(text) {
        document.getElementById('status').textContent = text;
    }

    function showDpiLevels() {
        var list = document.getElementById('dpi-levels');
        list.innerHTML = '';
        if (!device) return;
        [0, 1, 2, 3, 4].forEach(function (index) {
            velmora.command('readDevicesDpiVal', {
                HardwareID: device.deviceId, DevicePath: device.devicePath, dpiIndex: String(index)
            }, function (text) {
                var value = JSON.parse(text);
                var item = document.createElement('li');
                item.textContent = value.DpiXVal + ' × ' + value.DpiYVal;
                list.appendChild(item);
            });
        });
    }

    function refreshDevices() {
        velmora.command('getDevicesList', {}, function (text) {
            var devices = JSON.parse(text);
            device = devices.length ? devices[0] : null;
            document.getElementById('device-name').textContent =
                device ? (device.version ? device.version : device.deviceId) : '未检测到设备';
            document.getElementById('device-detail').textContent =
                device ? ('序列号 ' + device.sn) : '请连接鼠标或键盘。';
            showDpiLevels();
        });
    }

    function hookWindowButtons() {
        document.getElementById('btn-min').onclick = function () {
            velmora.raw('{"funcname":"minisizeWindow"}');
        };
        var maximised = false;
        document.getElementById('btn-max').onclick = function () {
            velmora.command(maximised ? 'restoreWindow' : 'maxsizeWindow', {});
            maximised = !maximised;
        };
        document.getElementById('btn-close').onclick = function () {
            velmora.command('closeX', {}, function () {});
        };
        var bar = document.getElementById('titlebar');
        var last = null;
        bar.addEventListener('mousedown', function (event) {
            if (event.target.tagName !== 'BUTTON') last = {x: event.screenX, y: event.screenY};
        });
        window.addEventListener('mouseup', function () { last = null; });
        window.addEventListener('mousemove', function (event) {
            if (!last) return;
            var dx = event.screenX - last.x;
            var dy = event.screenY - last.y;
            last = {x: event.screenX, y: event.screenY};
            velmora.raw('moveWindow ' + [dx, dy, window.outerWidth, window.outerHeight].join(','));
        });
    }

    velmora.on('devicesChanged', function () {
        setStatus('设备已变化');
        refreshDevices();
    });
    hookWindowButtons();
    refreshDevices();
})();
