import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import test from 'node:test';

import { createTranslator, format, languageFromSettings, languageOfLocale, pickLanguage, placeholders, settingsWithLanguage }
    from '../../resources/appdir/template/default/js/i18n.js';
import mainEn from '../../resources/appdir/template/default/js/i18n/en.js';
import mainZh from '../../resources/appdir/template/default/js/i18n/zh.js';
import deviceEn from '../../resources/appdir/view/device/vm100/js/i18n/en.js';
import deviceZh from '../../resources/appdir/view/device/vm100/js/i18n/zh.js';
import { CLICK_CODES } from '../../resources/appdir/view/device/vm100/js/buttons.js';
import { BUTTONS, LIGHTING_MODES, MOUSE } from '../../resources/appdir/view/device/vm100/js/model.js';
import { ACCELERATION } from '../../resources/appdir/view/device/vm100/js/mousecfg.js';
import { PLAY_TYPES } from '../../resources/appdir/view/device/vm100/js/keymap.js';
import { FAILURE_AREAS } from '../../resources/appdir/view/device/vm100/js/status.js';

const root = new URL('../../resources/appdir/', import.meta.url);
const read = (path) => readFileSync(new URL(path, root), 'utf8');

// Every text key a page's files name literally: data-i18n attributes and quoted "area.name" strings
// whose area is one the tables use.
function keysUsed(files, table) {
    const areas = new Set(Object.keys(table).map((key) => key.split('.')[0]));
    const used = new Set();
    for (const file of files) {
        const text = read(file);
        for (const match of text.matchAll(/data-i18n(?:-[a-z]+)?="([^"]+)"/g)) used.add(match[1]);
        for (const match of text.matchAll(/'([a-zA-Z]+)\.([A-Za-z0-9]+)'/g)) {
            if (areas.has(match[1])) used.add(`${match[1]}.${match[2]}`);
        }
    }
    return used;
}

const deviceFiles = ['view/device/vm100/seting.html',
    ...readdirSync(new URL('view/device/vm100/js/', root)).filter((name) => name.endsWith('.js')).map((name) => `view/device/vm100/js/${name}`)];
const mainFiles = ['template/default/index.html', 'template/default/js/app.js', 'template/default/js/devices.js'];

for (const [name, zh, en, files] of [['main page', mainZh, mainEn, mainFiles], ['device page', deviceZh, deviceEn, deviceFiles]]) {
    test(`${name}: both languages have the same texts with the same placeholders`, () => {
        assert.deepEqual(Object.keys(en).sort(), Object.keys(zh).sort());
        for (const key of Object.keys(zh)) {
            assert.deepEqual(placeholders(en[key]), placeholders(zh[key]), key);
            assert.ok(zh[key].trim() && en[key].trim(), key);
        }
    });

    test(`${name}: every text the page names is in the tables`, () => {
        const missing = [...keysUsed(files, zh)].filter((key) => !(key in zh));
        assert.deepEqual(missing, []);
    });
}

test('device page: the texts named from data are in the tables', () => {
    const dynamic = [
        ...BUTTONS.map((button) => `button.${button.name}`),
        ...Object.keys(MOUSE).map((name) => `mouse.${name}`),
        ...Object.keys(CLICK_CODES).map((name) => `click.${name}`),
        ...ACCELERATION.map((entry) => `accel.${entry.name}`), 'accel.other',
        ...LIGHTING_MODES.map((mode) => `lightMode.${mode}`),
        ...PLAY_TYPES.map((type) => `playType.${type}`),
        ...['down', 'up', 'delay'].map((type) => `action.${type}`),
        ...['dpi', 'dpiStage', 'reportInterval', 'lighting', 'debounce', 'sound'].map((part) => `part.${part}`),
        ...['lighting', 'debounce', 'sound'].map((part) => `${part}.heading`),
        // Why a command failed, by the area the command works in.
        ...FAILURE_AREAS.filter((area) => area !== 'input' && area !== 'partial').map((area) => `why.${area}`),
    ];
    assert.deepEqual(dynamic.filter((key) => !(key in deviceZh) || !(key in deviceEn)), []);
});

// Names that stay as they are in every language: units, key names, file types, a command.
const NAMES = new Set(['DPI', 'Hz', 'X', 'Y', 'CTRL', 'C', 'pfd', 'dcsim', 'plug']);

test('device page: the Chinese texts show no English but names, the English texts no Chinese', () => {
    const words = (value) => value.replace(/\{\w+\}/g, '').match(/[A-Za-z]+/g) ?? [];
    const english = Object.keys(deviceZh).filter((key) => words(deviceZh[key]).some((word) => !NAMES.has(word)));
    assert.deepEqual(english, []);
    const chinese = Object.keys(deviceEn).filter((key) => /[\u3000-\u303f\u3400-\u9fff\uff00-\uffef]/.test(deviceEn[key]));
    assert.deepEqual(chinese, []);
});

test('device page: forms leave their checks to the page, so no message of the engine\'s own appears', () => {
    const forms = read('view/device/vm100/seting.html').match(/<form\b[^>]*>/g) ?? [];
    assert.ok(forms.length > 0);
    assert.deepEqual(forms.filter((tag) => !/\bnovalidate\b/.test(tag)), []);
});

test('the language comes from the address, then storage, then the default', () => {
    assert.equal(pickLanguage('en', 'zh'), 'en');
    assert.equal(pickLanguage(null, 'en'), 'en');
    assert.equal(pickLanguage('fr', undefined), 'zh');
    assert.equal(pickLanguage(), 'zh');
});

test('a first start speaks the language of the engine\'s locale', () => {
    for (const [tag, language] of [['zh-CN', 'zh'], ['zh', 'zh'], ['zh-Hant-TW', 'zh'], ['en-US', 'en'], ['de-DE', 'en'],
        ['zu', 'en'], ['', 'en'], [undefined, 'en']]) {
        assert.equal(languageOfLocale(tag), language, tag);
    }
});

test('the remembered language survives the settings file and ignores what is not a language', () => {
    assert.equal(languageFromSettings(settingsWithLanguage('en')), 'en');
    assert.equal(languageFromSettings('<ui language="xx" />'), null);
    assert.equal(languageFromSettings('<ui'), null);
    assert.equal(languageFromSettings(''), null);
});

test('texts fill their placeholders and fall back to Chinese, then to the key', () => {
    const t = createTranslator({ zh: { a: '甲 {n}', b: '乙' }, en: { a: 'A {n}' } }, 'en');
    assert.equal(t('a', { n: 3 }), 'A 3');
    assert.equal(t('b'), '乙');
    assert.equal(t('c'), 'c');
    assert.equal(format('{x} and {y}', { x: 1 }), '1 and {y}');
    assert.equal(createTranslator({ zh: { a: '甲' } }, 'fr').language, 'zh');
});
