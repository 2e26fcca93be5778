// The frameless window's own title bar: dragging moves the window, and the three buttons
// minimise (to the tray for the main window), maximise or restore, and close as configured.

// `translate` gives the current language's text of a key, for the button's changing title.
export function hookTitleBar(bridge, { bar, minimise, maximise, close, translate }) {
    minimise?.addEventListener('click', () => bridge.raw('{"funcname":"minisizeWindow"}'));

    let maximised = false;
    const toggle = () => {
        bridge.send(maximised ? 'restoreWindow' : 'maxsizeWindow');
        maximised = !maximised;
        if (!maximise) return;
        // A maximised window's button restores it, and says so.
        maximise.classList.toggle('restore', maximised);
        maximise.textContent = maximised ? '\u2750' : '\u25A1';
        maximise.dataset.i18nTitle = maximised ? 'window.restore' : 'window.maximise';
        if (translate) maximise.title = translate(maximise.dataset.i18nTitle);
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
