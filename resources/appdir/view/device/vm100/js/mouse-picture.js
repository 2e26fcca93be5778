// The mouse seen from above with its buttons numbered, on the buttons tab: a number (or the
// button itself) picks that button, and the chosen button's number is lit.

const SVG = 'http://www.w3.org/2000/svg';

export const VIEW_BOX = { x: 0, y: 0, width: 240, height: 262 };
export const BADGE_RADIUS = 10;
const BODY = 'M120 12 C168 12 192 48 192 108 L192 172 C192 226 160 252 120 252 C80 252 48 226 48 172 L48 108 C48 48 72 12 120 12 Z';
const CABLE = 'M120 12 C120 6 121 3 124 0';

// Each physical button by its name in the model: its outline (a path, or a rounded rectangle
// [x, y, width, height, corner]), where its number sits, and where a leader line from the number
// meets a button too small to hold it.
export const PARTS = {
    left: { path: 'M117 14 C74 15 50 50 50 106 Q84 114 117 116 Z', badge: [84, 66] },
    right: { path: 'M123 14 C166 15 190 50 190 106 Q156 114 123 116 Z', badge: [156, 66] },
    middle: { rect: [112, 26, 16, 34, 8], badge: [222, 26], from: [128, 43] },
    dpiUp: { rect: [113, 66, 14, 9, 3], badge: [222, 62], from: [127, 70] },
    dpiDown: { rect: [113, 79, 14, 9, 3], badge: [222, 98], from: [127, 84] },
    forward: { rect: [43, 122, 9, 24, 3], badge: [18, 112], from: [43, 134] },
    back: { rect: [43, 152, 9, 24, 3], badge: [18, 186], from: [43, 164] },
};

// The drawn parts of the given buttons; a button without a drawing is an error in the model.
export function pictureParts(buttons) {
    return buttons.map((button) => {
        const part = PARTS[button.name];
        if (!part) throw new Error(`no drawing of the ${button.name} button`);
        return { id: button.id, name: button.name, ...part };
    });
}

function node(name, attrs = {}) {
    const element = document.createElementNS(SVG, name);
    for (const [key, value] of Object.entries(attrs)) element.setAttribute(key, String(value));
    return element;
}

// buttons: the model's buttons; pick(id) is called when a button is clicked in the picture.
export function createMousePicture(buttons, pick) {
    const { x, y, width, height } = VIEW_BOX;
    const svg = node('svg', { viewBox: `${x} ${y} ${width} ${height}`, class: 'mouse-picture', role: 'img' });
    const title = node('title');
    svg.append(title, node('path', { d: CABLE, class: 'cable' }), node('path', { d: BODY, class: 'body' }));
    const spots = new Map();
    for (const part of pictureParts(buttons)) {
        const group = node('g', { class: 'spot', 'data-button': part.id });
        const outline = part.path ? node('path', { d: part.path, class: 'part' })
            : node('rect', { x: part.rect[0], y: part.rect[1], width: part.rect[2], height: part.rect[3], rx: part.rect[4], class: 'part' });
        group.append(outline);
        if (part.from) {
            group.append(node('line', { x1: part.from[0], y1: part.from[1], x2: part.badge[0], y2: part.badge[1], class: 'leader' }));
        }
        const label = node('title');
        const number = node('text', { x: part.badge[0], y: part.badge[1], class: 'number' });
        number.textContent = String(part.id);
        group.append(label, node('circle', { cx: part.badge[0], cy: part.badge[1], r: BADGE_RADIUS, class: 'badge-dot' }), number);
        group.addEventListener('click', () => pick(part.id));
        svg.append(group);
        spots.set(part.id, { group, label });
    }
    return {
        svg,
        // Lights the chosen button (null: none).
        highlight(id) {
            for (const [spotId, spot] of spots) spot.group.classList.toggle('selected', spotId === id);
        },
        // Hover texts in the current language: name(id) is a button's shown name.
        label(pictureTitle, name) {
            title.textContent = pictureTitle;
            svg.setAttribute('aria-label', pictureTitle);
            for (const [id, spot] of spots) spot.label.textContent = name(id);
        },
    };
}
