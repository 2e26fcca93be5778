// The frameless window's own title bar: dragging moves the window, and the three buttons
// minimise (to the tray for the main window), maximise or restore, and close as configured.

export function hookTitleBar(bridge, { bar, minimise, maximise, close }) {
    minimise?.addEventListener('click', () => bridge.raw('{"funcname":"minisizeWindow"}'));

    let maximised = false;
    const toggle = () => {
        bridge.send(maximised ? 'restoreWindow' : 'maxsizeWindow');
        maximised = !maximised;
        maximise?.classList.toggle('restore', maximised);
    };
    maximise?.addEventListener('click', toggle);
    bar?.addEventListener('dblclick', (event) => {
        if (!event.target.closest('button, select, input, a')) toggle();
    });

    close?.addEventListener('click', () => {
        bridge.call('closeX', {}, { timeout: 3000 }).catch(() => {});
    });

    let last = null;
    bar?.addEventListener('mousedown', (event) => {
        if (event.button !== 0 || maximised || event.target.closest('button, select, input, a')) return;
        last = { x: event.screenX, y: event.screenY };
    });
    window.addEventListener('mouseup', () => {
        last = null;
    });
    window.addEventListener('mousemove', (event) => {
        if (!last) return;
        const dx = event.screenX - last.x;
        const dy = event.screenY - last.y;
        if (!dx && !dy) return;
        last = { x: event.screenX, y: event.screenY };
        bridge.raw(`moveWindow ${[dx, dy, window.outerWidth, window.outerHeight].join(',')}`);
    });
}
