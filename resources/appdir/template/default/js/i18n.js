// Texts by key from one table per language, and the remembered choice of language. The main
// page (velmora://) and the device pages (file://) have separate local storage, so the choice
// is also kept in a small settings file that both read, and handed over in the page address.

import { element, parseFragment, serialize } from './xml.js';

export const LANGUAGES = ['zh', 'en'];
export const DEFAULT_LANGUAGE = 'zh';
export const STORAGE_KEY = 'velmora.language';
export const SETTINGS_FILE = 'profiles/ui.xml';

export function isLanguage(value) {
    return LANGUAGES.includes(value);
}

// The first valid choice: the page address, this origin's storage, the settings file.
export function pickLanguage(...candidates) {
    return candidates.find(isLanguage) ?? DEFAULT_LANGUAGE;
}

// The language of a locale tag such as navigator.language: the choice of a first start, before
// the user picked one. The program sets the engine's locale from the system's.
export function languageOfLocale(tag) {
    return /^zh(-|$)/i.test(tag ?? '') ? 'zh' : 'en';
}

// "{name}" in a text is replaced by params.name; a missing parameter stays visible.
export function format(text, params = {}) {
    return text.replace(/\{(\w+)\}/g, (match, key) => (key in params ? String(params[key]) : match));
}

export function createTranslator(tables, language) {
    const table = tables[language] ?? tables[DEFAULT_LANGUAGE];
    const fallback = tables[DEFAULT_LANGUAGE];
    const t = (key, params) => {
        const text = table[key] ?? fallback[key];
        return text === undefined ? key : format(text, params);
    };
    t.language = tables[language] ? language : DEFAULT_LANGUAGE;
    t.has = (key) => key in table;
    return t;
}

// The placeholders a text uses, for checking that every language asks for the same values.
export function placeholders(text) {
    return [...text.matchAll(/\{(\w+)\}/g)].map((match) => match[1]).sort();
}

export function languageFromSettings(text) {
    try {
        const [ui] = parseFragment(text);
        return ui && isLanguage(ui.attrs.language) ? ui.attrs.language : null;
    } catch {
        return null;
    }
}

export function settingsWithLanguage(language) {
    return serialize(element('ui', { language }));
}

// Reads and keeps the choice through local storage and the settings file.
export function createLanguageStore(bridge, storage) {
    const read = () => {
        try {
            return storage?.getItem(STORAGE_KEY) ?? null;
        } catch {
            return null;
        }
    };
    const keep = (language) => {
        try {
            storage?.setItem(STORAGE_KEY, language);
        } catch {
            // Storage may be off for local files; the settings file still holds the choice.
        }
    };
    return {
        stored: read,
        keep,
        // The file's choice, or null when there is none or no answer.
        async fromFile() {
            try {
                return languageFromSettings(await bridge.call('queryProfile', { filePath: SETTINGS_FILE, xpath: '/ui' }, { timeout: 2000 }));
            } catch {
                return null;
            }
        },
        async save(language) {
            keep(language);
            await bridge.call('modifyProfileXml', { filePath: SETTINGS_FILE, contentStr: settingsWithLanguage(language) });
            await bridge.call('savexml', {}, { timeout: 3000 });
        },
    };
}

// Fills every element that names a text key: data-i18n (text), data-i18n-title,
// data-i18n-placeholder, data-i18n-aria.
export function applyTexts(root, t) {
    for (const node of root.querySelectorAll('[data-i18n]')) node.textContent = t(node.dataset.i18n);
    for (const node of root.querySelectorAll('[data-i18n-title]')) node.title = t(node.dataset.i18nTitle);
    for (const node of root.querySelectorAll('[data-i18n-placeholder]')) node.placeholder = t(node.dataset.i18nPlaceholder);
    for (const node of root.querySelectorAll('[data-i18n-aria]')) node.setAttribute('aria-label', t(node.dataset.i18nAria));
}
