// A question asked in the page itself (the engine's own confirm box would speak the system's
// language and block the page): resolves true when confirmed, false on cancel or Escape.
//
// dialog: a <dialog> holding .dialog-title, .dialog-text, .dialog-cancel and .dialog-ok.
export function createConfirm(dialog) {
    const titleNode = dialog.querySelector('.dialog-title');
    const textNode = dialog.querySelector('.dialog-text');
    const cancelButton = dialog.querySelector('.dialog-cancel');
    const okButton = dialog.querySelector('.dialog-ok');
    let pending = null;

    function finish(answer) {
        if (!pending) return;
        const { resolve, returnTo } = pending;
        pending = null;
        if (dialog.open) dialog.close();
        if (returnTo?.isConnected) returnTo.focus();
        resolve(answer);
    }

    okButton.addEventListener('click', () => finish(true));
    cancelButton.addEventListener('click', () => finish(false));
    // Escape closes the dialog; it counts as cancel.
    dialog.addEventListener('cancel', (event) => {
        event.preventDefault();
        finish(false);
    });

    // All texts are given in the current language. danger: the confirming button deletes.
    return function ask({ title, message, confirm, cancel, danger = false }) {
        finish(false);
        titleNode.textContent = title;
        textNode.textContent = message;
        okButton.textContent = confirm;
        cancelButton.textContent = cancel;
        okButton.className = `dialog-ok ${danger ? 'danger-solid' : 'primary'}`;
        return new Promise((resolve) => {
            pending = { resolve, returnTo: document.activeElement };
            dialog.showModal();
            // The safe answer has the focus, so Enter never discards by accident.
            cancelButton.focus();
        });
    };
}
