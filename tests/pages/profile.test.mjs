import assert from 'node:assert/strict';
import test from 'node:test';

import { exportFileName, macroLibraryXml, newProfileFile, parseMacroLibrary, parseProfile, parseProfileIndex,
    profileIndexXml, profileXml } from '../../resources/appdir/view/device/vm100/js/profile.js';
import { keys } from './keytable.mjs';

const macros = [
    { name: 'Reload', actions: [{ type: 'down', key: 'R' }, { type: 'delay', ms: 40 }, { type: 'up', key: 'R' }] },
    { name: 'Click & "hold"', actions: [{ type: 'down', key: '左键' }, { type: 'delay', ms: 900 }, { type: 'up', key: '左键' }] },
];

const settings = {
    dpi: [{ link: true, x: 400, y: 400 }, { link: false, x: 1000, y: 800 }, { link: true, x: 1600, y: 1600 },
        { link: true, x: 3200, y: 3200 }, { link: true, x: 16000, y: 16000 }],
    dpiStage: 1,
    reportInterval: 2,
    buttons: {
        1: { kind: 'mouse', code: 1 },
        2: { kind: 'softmacro', macro: 'Reload', playType: 1, playCount: 1 },
        3: { kind: 'hotkey', keys: ['CTRL', 'SHIFT', 'Z'] },
        4: { kind: 'macro', macro: 'Click & "hold"', loop: 3 },
        5: { kind: 'key', key: 'click:left', repeat: 5, interval: 20 },
        6: { kind: 'dpi', code: 4, dpi: 800 },
        7: { kind: 'special', action: 'wheelDown' },
    },
    lighting: { mode: 2, brightness: 60, speed: 4, color: '#12abef', rest: [0, 1, 0, 0] },
    debounce: { time: 6, liftOff: 2, rest: [0, 0, 0, 0, 0, 0, 0, 0] },
    sound: { on: false, volume: 35, rest: [0, 0, 0, 0, 0, 0, 0, 0] },
};

test('a saved profile loads back as the same settings and macros', () => {
    const parsed = parseProfile(profileXml('Game', settings, macros), keys);
    assert.equal(parsed.name, 'Game');
    assert.deepEqual(parsed.problems, []);
    assert.deepEqual(parsed.settings, settings);
    assert.deepEqual(parsed.macros, macros);
});

test('a damaged profile applies what is right and names the rest', () => {
    const text = profileXml('Broken', settings, macros)
        .replace('x="1000"', 'x="ten"')
        .replace('reportInterval="2"', 'reportInterval="3"')
        .replace('kind="dpi" code="4"', 'kind="dpi" code="9"')
        .replace('macro="Reload"', 'macro="Missing"')
        .replace('color="#12abef"', 'color="red"')
        .replace('<down key="R" />', '<down key="NOPE" />');
    const parsed = parseProfile(text, keys);
    assert.equal(parsed.settings.dpi, undefined);
    assert.equal(parsed.settings.reportInterval, undefined);
    assert.equal(parsed.settings.lighting, undefined);
    assert.equal(parsed.settings.dpiStage, 1);
    assert.deepEqual(Object.keys(parsed.settings.buttons).sort(), ['1', '3', '4', '5', '7']);
    assert.deepEqual(parsed.macros.map((macro) => macro.name), ['Click & "hold"']);
    assert.deepEqual(parsed.problems.map((item) => item.key).sort(), ['profile.badButton', 'profile.badButton', 'profile.badPart',
        'profile.badPart', 'profile.badPart', 'profile.macroSkipped'].sort());
    assert.deepEqual(parsed.settings.sound, settings.sound);
});

test('a file that is not a profile of this mouse is refused', () => {
    assert.throws(() => parseProfile('<macros />', keys));
    assert.throws(() => parseProfile('<profile model="vm200" />', keys));
    assert.throws(() => parseProfile('<profile', keys));
    assert.deepEqual(parseProfile('<profile model="vm100" name="empty" />', keys).settings, {});
});

test('the macro library keeps macros by name and drops broken or repeated ones', () => {
    assert.deepEqual(parseMacroLibrary(macroLibraryXml(macros), keys), { macros, problems: [] });
    const twice = macroLibraryXml([macros[0], macros[0], { name: '', actions: macros[0].actions }]);
    const read = parseMacroLibrary(twice, keys);
    assert.equal(read.macros.length, 1);
    assert.equal(read.problems.length, 2);
});

test('the profile list keeps entries with a name and a profile file of its own', () => {
    const entries = [{ name: 'Game', file: 'profile-1.xml' }, { name: 'Office', file: 'profile-3.xml' }];
    assert.deepEqual(parseProfileIndex(profileIndexXml(entries)), entries);
    assert.deepEqual(parseProfileIndex('<profiles><profile name="x" file="../../conf.xml" /><profile file="profile-2.xml" /></profiles>'), []);
    assert.equal(newProfileFile(entries), 'profile-2.xml');
});

test('an export proposes the model and the day as its name', () => {
    assert.equal(exportFileName('vm100', new Date(2026, 11, 8, 23, 59)), 'VM100 2026-12-08');
    assert.equal(exportFileName('vm100', new Date(2027, 0, 1)), 'VM100 2027-01-01');
});
