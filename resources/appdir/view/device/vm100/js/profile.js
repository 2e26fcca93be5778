// Profiles: the device's settings and the macros they use as one XML file, the list of saved
// profiles, the macro library file, and the paths the file dialogs give.

import { childElements, element, firstChild, parseDocument, serialize } from '../../../../template/default/js/xml.js';
import { checkAssignment } from './buttons.js';
import { checkDpi } from './dpi.js';
import { encodeDebounce, encodeLighting, encodeSound } from './lighting.js';
import { checkMacro } from './macro.js';
import { BUTTONS, DPI_STAGES, MODEL, PROFILE_FOLDER, REPORT_RATES } from './model.js';

export const PROFILE_VERSION = '1';

function macroElement(macro) {
    return element('macro', { name: macro.name }, macro.actions.map((action) => (action.type === 'delay'
        ? element('delay', { ms: String(action.ms) })
        : element(action.type, { key: action.key }))));
}

function macroFromElement(node) {
    const actions = childElements(node).map((child) => {
        if (child.name === 'delay') return { type: 'delay', ms: Number(child.attrs.ms) };
        if (child.name === 'down' || child.name === 'up') return { type: child.name, key: child.attrs.key ?? '' };
        return { type: child.name };
    });
    return { name: (node.attrs.name ?? '').trim(), actions };
}

export function macroLibraryXml(macros) {
    return serialize(element('macros', { model: MODEL }, macros.map(macroElement)));
}

// The macros of a library file that can be used; problems name the ones left out.
export function parseMacroLibrary(text, keys) {
    const root = parseDocument(text);
    if (root.name !== 'macros') throw new Error('not a macro library');
    return readMacros(root, keys);
}

function readMacros(node, keys) {
    const macros = [];
    const problems = [];
    for (const child of childElements(node, 'macro')) {
        const macro = macroFromElement(child);
        const issues = checkMacro(macro, keys);
        if (issues.length || macros.some((known) => known.name === macro.name)) {
            problems.push({ key: 'profile.macroSkipped', params: { name: macro.name || '?' } });
        } else {
            macros.push(macro);
        }
    }
    return { macros, problems };
}

function buttonElement(id, assignment) {
    const attrs = { id: String(id), kind: assignment.kind };
    switch (assignment.kind) {
        case 'mouse':
            attrs.code = String(assignment.code);
            break;
        case 'dpi':
            attrs.code = String(assignment.code);
            if (assignment.dpi !== undefined) attrs.dpi = String(assignment.dpi);
            break;
        case 'special':
            attrs.action = assignment.action;
            break;
        case 'hotkey':
            attrs.keys = assignment.keys.join('+');
            break;
        case 'key':
            Object.assign(attrs, { key: assignment.key, repeat: String(assignment.repeat), interval: String(assignment.interval) });
            break;
        case 'macro':
            Object.assign(attrs, { macro: assignment.macro, loop: String(assignment.loop ?? 1) });
            break;
        case 'softmacro':
            Object.assign(attrs, { macro: assignment.macro, playType: String(assignment.playType),
                playCount: String(assignment.playCount) });
            break;
        default:
            break;
    }
    return element('button', attrs);
}

function buttonFromElement(node) {
    const { kind } = node.attrs;
    const int = (name) => (/^\d+$/.test(node.attrs[name] ?? '') ? Number(node.attrs[name]) : NaN);
    switch (kind) {
        case 'none':
            return { kind };
        case 'mouse':
            return { kind, code: int('code') };
        case 'dpi':
            return node.attrs.dpi === undefined ? { kind, code: int('code') } : { kind, code: int('code'), dpi: int('dpi') };
        case 'special':
            return { kind, action: node.attrs.action ?? '' };
        case 'hotkey':
            return { kind, keys: (node.attrs.keys ?? '').split('+').filter(Boolean) };
        case 'key':
            return { kind, key: node.attrs.key ?? '', repeat: int('repeat'), interval: int('interval') };
        case 'macro':
            return { kind, macro: node.attrs.macro ?? '', loop: int('loop') };
        case 'softmacro':
            return { kind, macro: node.attrs.macro ?? '', playType: int('playType'), playCount: int('playCount') };
        default:
            return { kind: String(kind) };
    }
}

const byteList = (bytes) => bytes.join(',');
const fromByteList = (text) => String(text ?? '').split(',').filter((item) => /^\d+$/.test(item)).map(Number)
    .filter((value) => value <= 255);

// settings: { dpi: [{link, x, y}], dpiStage, reportInterval, buttons: {id: assignment},
// lighting, debounce, sound }; macros: the macros the buttons name (and any others to keep).
export function profileXml(name, settings, macros) {
    const root = element('profile', { model: MODEL, name, version: PROFILE_VERSION });
    root.children.push(element('performance', { dpiStage: String(settings.dpiStage), reportInterval: String(settings.reportInterval) },
        settings.dpi.map((stage) => element('dpi', { link: stage.link ? '1' : '0', x: String(stage.x), y: String(stage.y) }))));
    root.children.push(element('buttons', {}, BUTTONS.filter((button) => settings.buttons[button.id])
        .map((button) => buttonElement(button.id, settings.buttons[button.id]))));
    const { lighting, debounce, sound } = settings;
    root.children.push(element('lighting', { mode: String(lighting.mode), brightness: String(lighting.brightness),
        speed: String(lighting.speed), color: lighting.color, rest: byteList(lighting.rest) }));
    root.children.push(element('debounce', { time: String(debounce.time), liftOff: String(debounce.liftOff), rest: byteList(debounce.rest) }));
    root.children.push(element('sound', { on: sound.on ? '1' : '0', volume: String(sound.volume), rest: byteList(sound.rest) }));
    root.children.push(element('macros', {}, macros.map(macroElement)));
    return serialize(root);
}

// What a profile file holds that can be applied; each part that is missing or wrong is left
// out (undefined) and named in problems, so a damaged file changes nothing it cannot state.
export function parseProfile(text, keys) {
    const root = parseDocument(text);
    if (root.name !== 'profile') throw new Error('not a profile');
    if (root.attrs.model && root.attrs.model !== MODEL) throw new Error(`a profile of ${root.attrs.model}`);
    const problems = [];
    const settings = {};

    const performance = firstChild(root, 'performance');
    if (performance) {
        const stages = childElements(performance, 'dpi').map((node) => {
            const x = checkDpi(node.attrs.x);
            const y = checkDpi(node.attrs.y);
            return x.ok && y.ok ? { link: node.attrs.link === '1', x: x.value, y: y.value } : null;
        });
        if (stages.length === DPI_STAGES && stages.every(Boolean)) settings.dpi = stages;
        else problems.push({ key: 'profile.badPart', params: { part: 'dpi' } });
        const stage = Number(performance.attrs.dpiStage);
        if (Number.isInteger(stage) && stage >= 0 && stage < DPI_STAGES) settings.dpiStage = stage;
        else problems.push({ key: 'profile.badPart', params: { part: 'dpiStage' } });
        const interval = Number(performance.attrs.reportInterval);
        if (REPORT_RATES.some((rate) => rate.interval === interval)) settings.reportInterval = interval;
        else problems.push({ key: 'profile.badPart', params: { part: 'reportInterval' } });
    }

    const { macros, problems: macroProblems } = readMacros(firstChild(root, 'macros') ?? element('macros'), keys);
    problems.push(...macroProblems);

    const buttonsNode = firstChild(root, 'buttons');
    if (buttonsNode) {
        settings.buttons = {};
        for (const node of childElements(buttonsNode, 'button')) {
            const id = Number(node.attrs.id);
            const button = BUTTONS.find((candidate) => candidate.id === id);
            const assignment = buttonFromElement(node);
            let ok = Boolean(button) && checkAssignment(assignment, keys).ok;
            if (ok && (assignment.kind === 'macro' || assignment.kind === 'softmacro')) {
                ok = macros.some((macro) => macro.name === assignment.macro)
                    && (assignment.kind === 'macro' ? assignment.loop >= 1 && assignment.loop <= 255
                        : Boolean(button.trigger) && [0, 1].includes(assignment.playType) && assignment.playCount >= 1);
            }
            if (ok) settings.buttons[id] = assignment;
            else problems.push({ key: 'profile.badButton', params: { id: node.attrs.id ?? '?' } });
        }
    }

    const parts = [
        ['lighting', (node) => encodeLighting({ mode: Number(node.attrs.mode), brightness: Number(node.attrs.brightness),
            speed: Number(node.attrs.speed), color: node.attrs.color, rest: fromByteList(node.attrs.rest) }),
        (node) => ({ mode: Number(node.attrs.mode), brightness: Number(node.attrs.brightness), speed: Number(node.attrs.speed),
            color: node.attrs.color.toLowerCase(), rest: fromByteList(node.attrs.rest) })],
        ['debounce', (node) => encodeDebounce({ time: Number(node.attrs.time), liftOff: Number(node.attrs.liftOff) }),
            (node) => ({ time: Number(node.attrs.time), liftOff: Number(node.attrs.liftOff), rest: fromByteList(node.attrs.rest) })],
        ['sound', (node) => encodeSound({ on: node.attrs.on === '1', volume: Number(node.attrs.volume) }),
            (node) => ({ on: node.attrs.on === '1', volume: Number(node.attrs.volume), rest: fromByteList(node.attrs.rest) })],
    ];
    for (const [name, check, read] of parts) {
        const node = firstChild(root, name);
        if (!node) continue;
        try {
            check(node);
            const value = read(node);
            if (Object.values(value).some((item) => Number.isNaN(item))) throw new Error('not a number');
            settings[name] = value;
        } catch {
            problems.push({ key: 'profile.badPart', params: { part: name } });
        }
    }
    return { name: root.attrs.name ?? '', settings, macros, problems };
}

// The list of saved profiles: <profiles><profile name="…" file="profile-1.xml"/></profiles>.
export function parseProfileIndex(text) {
    const root = parseDocument(text);
    if (root.name !== 'profiles') throw new Error('not a profile list');
    return childElements(root, 'profile')
        .filter((node) => node.attrs.name && /^profile-\d+\.xml$/.test(node.attrs.file ?? ''))
        .map((node) => ({ name: node.attrs.name, file: node.attrs.file }));
}

export function profileIndexXml(entries) {
    return serialize(element('profiles', { model: MODEL }, entries.map((entry) => element('profile', { name: entry.name, file: entry.file }))));
}

export function newProfileFile(entries) {
    const used = new Set(entries.map((entry) => entry.file));
    for (let i = 1; ; i++) {
        const file = `profile-${i}.xml`;
        if (!used.has(file)) return file;
    }
}

export function profilePath(file) {
    return `${PROFILE_FOLDER}/${file}`;
}

// Where the program kept a file it found damaged when it read it, or null.
export async function keptDamagedCopy(bridge, filePath) {
    try {
        return await bridge.call('damagedProfile', { filePath });
    } catch {
        return null;
    }
}

// The name an export proposes: the model and the day, "VM100 2026-12-08".
export function exportFileName(model, date) {
    const day = [date.getFullYear(), date.getMonth() + 1, date.getDate()].map((n) => String(n).padStart(2, '0')).join('-');
    return `${model.toUpperCase()} ${day}`;
}
