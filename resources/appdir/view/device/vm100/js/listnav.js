// Lists worked from the keyboard: the whole list is one tab stop (the chosen row, else the
// first), the arrow keys move along it, Home and End jump to its ends, Enter and Space open
// the row as a click does.

// What a key does in a list of `count` rows whose row `index` has the focus (-1: none).
export function listKey(key, index, count) {
    if (!count) return null;
    switch (key) {
        case 'ArrowDown': return { move: Math.min(count - 1, index + 1) };
        case 'ArrowUp': return { move: Math.max(0, index - 1) };
        case 'Home': return { move: 0 };
        case 'End': return { move: count - 1 };
        case 'Enter':
        case ' ':
            return index >= 0 ? { open: index } : null;
        default: return null;
    }
}

// The row that holds the list's tab stop.
export function tabStop(chosen, count) {
    if (!count) return -1;
    return chosen >= 0 && chosen < count ? chosen : 0;
}

function setStop(rows, stop) {
    rows.forEach((row, i) => { row.tabIndex = i === stop ? 0 : -1; });
}

// Shows `rows` in the list. A row that had the focus keeps it at its place, so drawing the list
// again does not throw the keyboard user out of it.
export function fillRovingList(list, rows, chosen, extra = []) {
    const focusedAt = [...list.children].indexOf(document.activeElement);
    list.replaceChildren(...rows, ...extra);
    const stop = tabStop(focusedAt >= 0 && focusedAt < rows.length ? focusedAt : chosen, rows.length);
    setStop(rows, stop);
    if (focusedAt >= 0 && rows[stop]) rows[stop].focus();
}

// open(index): the row at `index` was chosen with the keyboard.
export function hookRovingList(list, open) {
    list.addEventListener('keydown', (event) => {
        if (event.altKey || event.ctrlKey || event.metaKey) return;
        const rows = [...list.children].filter((row) => row.getAttribute('role') === 'option');
        const action = listKey(event.key, rows.indexOf(event.target), rows.length);
        if (!action) return;
        event.preventDefault();
        if ('move' in action) {
            setStop(rows, action.move);
            rows[action.move].focus();
        } else {
            open(action.open);
        }
    });
}
