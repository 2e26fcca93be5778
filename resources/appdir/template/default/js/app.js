// The main page: the attached devices with their model names, a clear state when there is
// none, and the way into each device's settings page.

import { createBridge } from './bridge.js';
import { CONF_FILE, createDeviceWatcher, keyMapDeviceId, keyMapPath, listDevices, parseProductInfo,
    productInfoXPath, settingsPageUrl, TRAY_CHOICE } from './devices.js';
import { applyTexts, createLanguageStore, createTranslator, isLanguage, languageOfLocale, pickLanguage } from './i18n.js';
import { hookTitleBar } from './titlebar.js';
import { parseFragment } from './xml.js';
import en from './i18n/en.js';
import zh from './i18n/zh.js';

const bridge = createBridge(window);
const languages = createLanguageStore(bridge, window.localStorage);
const params = new URLSearchParams(location.search);
let t = createTranslator({ zh, en }, pickLanguage(params.get('lang'), languages.stored(), languageOfLocale(navigator.language)));
const $ = (id) => document.getElementById(id);

// Model entries by device key; a failed read is retried with the next listing.
const models = new Map();
let devices = null;
let statusKey = 'status.ready';
let statusParams = {};

// What went wrong in the user's words; the program's own texts go to the console only.
function errorText(error) {
    if (error?.kind === 'timeout') return t('error.timeout');
    if (error?.kind === 'unavailable') return t('error.unavailable');
    console.warn(error?.text ?? error?.message ?? error);
    return t(error?.kind === 'failed' ? 'error.failed' : 'error.other');
}

function setStatus(key, params = {}, kind = '') {
    statusKey = key;
    statusParams = params;
    const status = $('status');
    status.textContent = t(key, params);
    status.className = `status ${kind}`;
}

// Key maps handed to the input filter in this page's life, by file.
const keyMapsLoaded = new Set();

async function loadKeyMap(model) {
    const path = keyMapPath(model.device);
    if (keyMapsLoaded.has(path)) return;
    keyMapsLoaded.add(path);
    try {
        const deviceId = keyMapDeviceId(await bridge.call('queryProfile', { filePath: path, xpath: '/conf' }));
        if (deviceId) await bridge.call('setVDevice', { virtualXmlPath: path, deviceId });
    } catch {
        // No key map, or no input engine: the settings page says so when it is opened.
    }
}

async function modelOf(key) {
    const known = models.get(key);
    if (known && !(known instanceof Error)) return known;
    let model;
    try {
        const text = await bridge.call('queryProfile', { filePath: CONF_FILE, xpath: productInfoXPath(key) });
        model = parseProductInfo(text);
    } catch (error) {
        model = error;
    }
    models.set(key, model);
    return model;
}

function openSettings(device, model, extra = {}) {
    setStatus('status.opening', { name: model.name });
    // The settings page replaces this one in the window; its back button returns here.
    bridge.send('loadurl', { url: settingsPageUrl(model.device, { device: device.deviceId, lang: t.language, ...extra }) });
}

// A profile chosen in the tray is applied by the settings page of the first mouse that has one.
// The event arrives as one list: [index, kind].
function onTrayChoice([index, kind] = []) {
    if (kind !== TRAY_CHOICE.profile) return;
    const device = devices?.find((candidate) => models.get(candidate.key)?.device);
    if (device) openSettings(device, models.get(device.key), { profile: index });
}

function renderCard(device) {
    const card = $('device-card').content.firstElementChild.cloneNode(true);
    applyTexts(card, t);
    card.dataset.deviceId = device.deviceId;
    card.querySelector('.device-version').textContent = device.version || '—';
    card.querySelector('.device-sn').textContent = device.sn || '—';
    const name = card.querySelector('.device-name');
    const note = card.querySelector('.device-note');
    const open = card.querySelector('.open-settings');
    const model = models.get(device.key);
    if (model === undefined) {
        name.textContent = device.key || device.deviceId;
        note.textContent = t('device.modelLoading');
        open.disabled = true;
    } else if (model instanceof Error) {
        name.textContent = device.key || device.deviceId;
        note.textContent = t('status.modelFailed', { error: errorText(model) });
        note.classList.add('error');
        open.disabled = true;
    } else if (model === null) {
        name.textContent = `${t('device.unknown')} (${device.key || device.deviceId})`;
        note.textContent = t('device.noModel', { key: device.key });
        open.disabled = true;
    } else {
        name.textContent = model.name;
        open.addEventListener('click', () => openSettings(device, model));
        card.addEventListener('dblclick', () => openSettings(device, model));
    }
    return card;
}

function render() {
    $('searching').hidden = devices !== null;
    $('no-device').hidden = !(devices && devices.length === 0);
    const list = $('device-list');
    list.hidden = !(devices && devices.length);
    list.replaceChildren(...(devices ?? []).map(renderCard));
    $('device-count').textContent = devices && devices.length ? t('devices.count', { count: devices.length }) : '';
    document.body.classList.toggle('has-device', Boolean(devices && devices.length));
}

async function onDevices(list) {
    const before = devices;
    devices = list;
    render();
    if (before && before.length && !list.length) setStatus('status.disconnected', {}, 'warn');
    await Promise.all(list.map((device) => modelOf(device.key)));
    if (devices !== list) return;
    render();
    const known = list.map((device) => models.get(device.key)).filter((model) => model && !(model instanceof Error));
    known.forEach(loadKeyMap);
    const named = known[0];
    if (list.length && (!before || !before.length)) setStatus('status.connected', { name: named?.name ?? list[0].key }, 'ok');
}

async function setLanguage(language, remember) {
    if (!isLanguage(language)) return;
    t = createTranslator({ zh, en }, language);
    document.documentElement.lang = language === 'zh' ? 'zh-CN' : 'en';
    $('language').value = language;
    applyTexts(document, t);
    setStatus(statusKey, statusParams, $('status').className.replace('status', '').trim());
    render();
    if (remember) await languages.save(language).catch(() => {});
}

async function showProductName() {
    try {
        const [client] = parseFragment(await bridge.call('queryProfile', { filePath: CONF_FILE, xpath: '/root/client' }));
        if (client?.attrs.name) {
            $('product-name').textContent = client.attrs.name;
            document.title = client.attrs.name;
        }
    } catch {
        // The name in the page stays.
    }
}

async function start() {
    hookTitleBar(bridge, { bar: $('titlebar'), minimise: $('btn-min'), maximise: $('btn-max'), close: $('btn-close'), translate: (key) => t(key) });
    $('language').addEventListener('change', (event) => setLanguage(event.target.value, true));
    // A language handed over in the address is this origin's choice from now on.
    if (isLanguage(params.get('lang'))) languages.keep(params.get('lang'));
    await setLanguage(t.language, false);
    if (!bridge.available()) {
        setStatus('status.noChannel', {}, 'error');
        return;
    }
    const watcher = createDeviceWatcher({
        list: () => listDevices(bridge),
        onChange: onDevices,
        onError: (error) => setStatus('status.listFailed', { error: errorText(error) }, 'error'),
    });
    bridge.on('devicesChanged', () => watcher.poke());
    bridge.on('currentPropChanged', onTrayChoice);
    watcher.start();
    showProductName();
    // Another page may have changed the language since this origin last stored it.
    const saved = await languages.fromFile();
    if (saved && saved !== t.language && !isLanguage(params.get('lang'))) {
        languages.keep(saved);
        setLanguage(saved, false);
    }
}

start();
