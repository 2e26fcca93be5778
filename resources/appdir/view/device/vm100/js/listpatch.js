// Updating a long table after an edit that touches one place (an action added, removed or
// moved): the rows before and after the edited stretch stay as they are, only the stretch is
// drawn again, so a macro of hundreds of actions takes as long to extend as one of three.

// before, after: the items the rows show, compared by identity. head rows stay at the start,
// the `removed` rows after them go, `added` items get new rows there, and the rest stays.
export function planRowUpdate(before, after) {
    const shorter = Math.min(before.length, after.length);
    let head = 0;
    while (head < shorter && before[head] === after[head]) head++;
    let tail = 0;
    while (tail < shorter - head && before[before.length - 1 - tail] === after[after.length - 1 - tail]) tail++;
    return { head, removed: before.length - head - tail, added: after.slice(head, after.length - tail) };
}

// Applies a plan to a container whose children are the rows of `before`, in order. makeRow
// draws one item's row; number(row, n) shows a row's position where it changed.
export function patchRows(container, before, after, makeRow, number) {
    const { head, removed, added } = planRowUpdate(before, after);
    for (let i = 0; i < removed; i++) container.children[head].remove();
    const next = container.children[head] ?? null;
    const fragment = document.createDocumentFragment();
    added.forEach((item, i) => fragment.append(makeRow(item, head + i)));
    container.insertBefore(fragment, next);
    // Rows after the stretch moved only if the stretch changed its length.
    if (removed !== added.length) {
        for (let i = head + added.length; i < after.length; i++) number(container.children[i], i);
    }
}
