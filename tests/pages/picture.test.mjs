import assert from 'node:assert/strict';
import test from 'node:test';

import { BUTTONS } from '../../resources/appdir/view/device/vm100/js/model.js';
import { BADGE_RADIUS, pictureParts, VIEW_BOX } from '../../resources/appdir/view/device/vm100/js/mouse-picture.js';

test('the picture of the mouse draws every button of the model with its number in view', () => {
    const parts = pictureParts(BUTTONS);
    assert.deepEqual(parts.map((part) => part.id), BUTTONS.map((button) => button.id));
    const { x, y, width, height } = VIEW_BOX;
    for (const { id, badge: [cx, cy] } of parts) {
        assert.ok(cx - BADGE_RADIUS >= x && cx + BADGE_RADIUS <= x + width, `number ${id} across the side`);
        assert.ok(cy - BADGE_RADIUS >= y && cy + BADGE_RADIUS <= y + height, `number ${id} across the top or bottom`);
    }
    // Numbers that overlap cannot be told apart, nor clicked one by one.
    for (const a of parts) {
        for (const b of parts.filter((other) => other.id > a.id)) {
            assert.ok(Math.hypot(a.badge[0] - b.badge[0], a.badge[1] - b.badge[1]) >= 2 * BADGE_RADIUS + 2, `numbers ${a.id} and ${b.id}`);
        }
    }
    assert.throws(() => pictureParts([...BUTTONS, { id: 8, name: 'sniper' }]));
});
