// The virtual key map that makes the input filter play software macros: one element per mouse
// button (its filter state code and flag 10) with the macro as a MACRO task. The root keeps
// the filter's device id and each entry its button and macro name, so the page can read it back.

import { element, childElements, firstChild, parseDocument, serialize } from '../../../../template/default/js/xml.js';
import { BUTTONS, MOUSE_TRIGGER_FLAG } from './model.js';
import { keyMapActionText } from './macro.js';

// 0: play playCount times on each press; 1: repeat while the button is held.
export const PLAY_TYPES = [0, 1];
export const PLAY_COUNT = { min: 1, max: 99 };

// entries: [{ button, macro: { name, actions }, playType, playCount }]
export function buildKeyMap(deviceId, entries) {
    const root = element('conf', { deviceId });
    for (const entry of entries) {
        const button = BUTTONS.find((candidate) => candidate.id === entry.button);
        if (!button?.trigger) throw new Error(`button ${entry.button} cannot play a software macro`);
        root.children.push(element(`button${button.id}`, {
            scanCode: String(button.trigger),
            flag: String(MOUSE_TRIGGER_FLAG),
            playType: String(entry.playType),
            playCount: String(entry.playCount),
            button: String(button.id),
            macro: entry.macro.name,
        }, [element('action', { task: 'MACRO', value: keyMapActionText(entry.macro.actions) })]));
    }
    return serialize(root);
}

// The entries of a stored key map: button, macro name, play type and count.
export function parseKeyMap(text) {
    const root = parseDocument(text);
    if (root.name !== 'conf') throw new Error('not a key map');
    const entries = [];
    for (const node of childElements(root)) {
        const button = Number(node.attrs.button);
        if (!BUTTONS.some((candidate) => candidate.id === button && candidate.trigger) || !firstChild(node, 'action')) continue;
        entries.push({
            button,
            macroName: node.attrs.macro ?? '',
            playType: PLAY_TYPES.includes(Number(node.attrs.playType)) ? Number(node.attrs.playType) : 0,
            playCount: Math.max(PLAY_COUNT.min, Math.min(PLAY_COUNT.max, Number(node.attrs.playCount) || 1)),
        });
    }
    return { deviceId: root.attrs.deviceId ?? '', entries };
}
