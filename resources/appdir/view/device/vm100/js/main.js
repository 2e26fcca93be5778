// The VM100 settings page: reads every setting from the mouse when it opens, writes each change
// at once and says whether it took, and keeps working when a command gives no answer. Each card
// lives in its own module; this one starts them and carries what one card does to the others.

import { createBridge } from '../../../../template/default/js/bridge.js';
import { TRAY_CHOICE } from '../../../../template/default/js/devices.js';
import { applyTexts, createLanguageStore, createTranslator, isLanguage, pickLanguage } from '../../../../template/default/js/i18n.js';
import { hookTitleBar } from '../../../../template/default/js/titlebar.js';
import { startButtonsCard } from './card-buttons.js';
import { startDebounceSoundCard } from './card-debounce-sound.js';
import { startLightingCard } from './card-lighting.js';
import { startMacrosCard } from './card-macros.js';
import { startPerformanceCard } from './card-performance.js';
import { startProfilesCard } from './card-profiles.js';
import { startSystemCard } from './card-system.js';
import { createConnection } from './connection.js';
import { createConfirm } from './dialog.js';
import { parseKeyTable } from './keys.js';
import { KEY_DEFINITION_PATH } from './model.js';
import { createPage } from './page.js';
import { failureReason, text } from './status.js';
import en from './i18n/en.js';
import zh from './i18n/zh.js';

const bridge = createBridge(window);
const languages = createLanguageStore(bridge, window.localStorage);
const params = new URLSearchParams(location.search);
const page = createPage(bridge, createTranslator({ zh, en }, pickLanguage(params.get('lang'), languages.stored())));
const { state, $, setStatus } = page;
const ask = createConfirm($('confirm-dialog'));

const connection = createConnection(page, { wanted: params.get('device'), readDevice });
const performanceCard = startPerformanceCard(page, { reread });
// The buttons card starts before the macros card it updates, so it reaches it through calls
// made once the page runs.
const buttonsCard = startButtonsCard(page, {
    reread,
    renderAssignTargets: () => macrosCard.renderAssignTargets(),
    updateSlotUsage: () => macrosCard.updateSlotUsage(),
});
const macrosCard = startMacrosCard(page, buttonsCard, { ask });
const lightingCard = startLightingCard(page, { reread });
const debounceSoundCard = startDebounceSoundCard(page, { reread });
const systemCard = startSystemCard(page);
const profilesCard = startProfilesCard(page, {
    assignButton: buttonsCard.assignButton,
    renderAll,
    updateSlotUsage: macrosCard.updateSlotUsage,
    pauseListing: connection.pause,
    resumeListing: connection.resume,
});

function renderAll() {
    performanceCard.render();
    buttonsCard.render();
    lightingCard.render();
    debounceSoundCard.render();
    macrosCard.renderList();
}

function fillKeySelects() {
    buttonsCard.fillKeySelects();
    macrosCard.fillKeySelects();
}

// What the read left unread; a retry that reads everything takes the warning back.
function reportRead() {
    const failed = Object.values(state.settings).filter((value) => value instanceof Error
        || (value && typeof value === 'object' && Object.values(value).some((item) => item instanceof Error)));
    if (failed.length) setStatus('status.readPartly', { count: failed.length }, 'error', 'device');
    else setStatus('status.read', {}, 'ok', 'device');
}

// Reads the parts again after a failed read; the rest keep what they show.
async function reread(parts) {
    for (const part of parts) state.settings[part] = undefined;
    renderAll();
    const all = await state.api.readAll();
    for (const part of parts) state.settings[part] = all[part];
    renderAll();
    reportRead();
}

// A profile the tray asked for before this page had read the mouse.
let trayProfile = /^\d+$/.test(params.get('profile') ?? '') ? Number(params.get('profile')) : null;

async function readDevice() {
    setStatus('status.loading', {}, 'busy', 'device');
    state.settings = {};
    renderAll();
    state.settings = await state.api.readAll();
    renderAll();
    reportRead();
    systemCard.load();
    macrosCard.updateSlotUsage();
    if (trayProfile !== null) {
        const index = trayProfile;
        trayProfile = null;
        await profilesCard.applyListed(index);
    }
}

// The event arrives as one list: [index, kind].
function onTrayChoice([index, kind] = []) {
    if (kind === TRAY_CHOICE.dpiStage && state.settings.dpi) {
        state.settings.dpiStage = index;
        performanceCard.render();
    } else if (kind === TRAY_CHOICE.profile) {
        if (state.api) profilesCard.applyListed(index);
        else trayProfile = index;
    }
}

async function loadKeyTable() {
    try {
        const [keysText, macrosText] = await Promise.all([
            bridge.call('queryProfile', { filePath: KEY_DEFINITION_PATH, xpath: '/keyboard/key' }),
            bridge.call('queryProfile', { filePath: KEY_DEFINITION_PATH, xpath: '/keyboard/macro' }),
        ]);
        state.keys = parseKeyTable(keysText, macrosText);
    } catch (error) {
        // Key names come from the file; without them keys and macros cannot be assigned.
        state.keys = parseKeyTable('', '');
        page.report('keys', text('status.keysFailed', { error: failureReason(error) }), 'error');
    }
    fillKeySelects();
}

let shownTab = null;
function showTab(name) {
    shownTab = name;
    for (const button of $('tabs').querySelectorAll('button')) button.classList.toggle('active', button.dataset.tab === name);
    for (const section of document.querySelectorAll('.tab')) section.hidden = section.id !== `tab-${name}`;
    if (name !== 'macros') macrosCard.stopRecording();
}

// Another tab, once the macro editor may be left.
async function switchTab(name) {
    if (name === shownTab) return;
    if (shownTab === 'macros' && !(await macrosCard.confirmLeave())) return;
    showTab(name);
}

async function goBack() {
    if (!(await macrosCard.confirmLeave())) return;
    // The main page opens this page in its own view with the device in the address; a device's
    // hot key opens it without one, in a window of its own, which back closes.
    if (!params.has('device')) bridge.send('closeView');
    else if (history.length > 1) bridge.call('goback', {}, { timeout: 2000 }).catch(() => {});
    else bridge.send('loadurl', { url: '/template/default/index.html' });
}

async function setLanguage(language, remember) {
    if (!isLanguage(language)) return;
    page.setTranslator(createTranslator({ zh, en }, language));
    document.documentElement.lang = language === 'zh' ? 'zh-CN' : 'en';
    $('language').value = language;
    applyTexts(document, page.t);
    page.repeatStatus();
    fillKeySelects();
    renderAll();
    // The system's values may have changed meanwhile: they are read again, not redrawn.
    if (state.api) systemCard.load();
    profilesCard.render();
    macrosCard.renderDraft();
    connection.render();
    buttonsCard.reselect();
    if (remember) await languages.save(language).catch(() => {});
}

function hookPage() {
    hookTitleBar(bridge, { bar: $('titlebar'), minimise: $('btn-min'), maximise: $('btn-max'), close: $('btn-close'), translate: (key) => page.t(key) });
    $('back').addEventListener('click', goBack);
    $('overlay-back').addEventListener('click', goBack);
    $('language').addEventListener('change', (event) => setLanguage(event.target.value, true));
    for (const button of $('tabs').querySelectorAll('button')) button.addEventListener('click', () => switchTab(button.dataset.tab));
}

async function start() {
    hookPage();
    // A language handed over in the address is this origin's choice from now on.
    if (isLanguage(params.get('lang'))) languages.keep(params.get('lang'));
    await setLanguage(page.language(), false);
    if (!bridge.available()) {
        setStatus('status.noChannel', {}, 'error');
        return;
    }
    const tab = params.get('tab');
    showTab(tab && $(`tab-${tab}`) ? tab : 'performance');
    await loadKeyTable();
    await macrosCard.load();
    profilesCard.load();
    bridge.on('currentPropChanged', onTrayChoice);
    connection.start();
    const saved = await languages.fromFile();
    if (saved && saved !== page.language() && !isLanguage(params.get('lang'))) {
        languages.keep(saved);
        setLanguage(saved, false);
    }
}

start();
