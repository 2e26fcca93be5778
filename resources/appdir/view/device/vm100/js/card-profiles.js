// The profiles tab: saved profiles of the mouse's settings and macros, and export to and
// import from a .pfd file.

import { freeName } from './macro.js';
import { BUTTONS, buttonById, MOUSE, PROFILE_INDEX } from './model.js';
import { el } from './page.js';
import { appFolderFromPageUrl, newProfileFile, parseProfile, parseProfileIndex, pathInsideAppFolder, profileIndexXml,
    profilePath, profileXml } from './profile.js';

// Loading a profile assigns buttons through the buttons card and shows every card again; the
// device listing pauses while a file dialog is open.
export function startProfilesCard(page, { assignButton, renderAll, updateSlotUsage, pauseListing, resumeListing }) {
    const { bridge, state, $, t, errorText, setStatus, cardState, change, problem, partError, deviceMacroName,
        effectiveAssignment, storeMacros } = page;
    let profiles = [];

    async function loadProfiles() {
        try {
            profiles = parseProfileIndex(await bridge.call('queryProfile', { filePath: PROFILE_INDEX, xpath: '/profiles' }));
        } catch (error) {
            if (error?.kind !== 'failed') partError('card-profiles', error, loadProfiles);
            profiles = [];
        }
        renderProfiles();
    }

    function renderProfiles() {
        $('profiles-empty').hidden = profiles.length > 0;
        document.querySelector('.profile-table').hidden = profiles.length === 0;
        $('profile-rows').replaceChildren(...profiles.map((entry) => el('tr', {},
            el('td', { text: entry.name }),
            el('td', { class: 'muted small', text: profilePath(entry.file) }),
            el('td', { class: 'row-buttons' },
                el('button', { class: 'primary', text: t('profiles.load'), onclick: () => loadProfile(entry) }),
                el('button', { text: t('profiles.overwrite'), onclick: () => saveProfile(entry.name, entry.file) }),
                el('button', { class: 'danger', text: t('profiles.remove'), onclick: () => removeProfile(entry) })))));
    }

    // The settings as a profile holds them, or a problem when a part has not been read.
    function collectProfile() {
        const s = state.settings;
        const parts = ['dpi', 'dpiStage', 'reportInterval', 'lighting', 'debounce', 'sound'];
        const missing = parts.filter((part) => s[part] === undefined || s[part] instanceof Error);
        const buttonsKnown = BUTTONS.every((button) => s.buttons?.[button.id] && !(s.buttons[button.id] instanceof Error));
        if (missing.length || !buttonsKnown) throw problem('profiles.notRead');
        const macros = [...state.macros];
        const buttons = {};
        for (const button of BUTTONS) {
            const assignment = effectiveAssignment(button.id);
            if (assignment.kind === 'macro') {
                let name = deviceMacroName(assignment);
                if (!name && assignment.actions) {
                    name = freeName(t('macro.fromDevice'), macros.map((macro) => macro.name));
                    macros.push({ name, actions: assignment.actions });
                }
                if (name) buttons[button.id] = { kind: 'macro', macro: name, loop: assignment.loop ?? 1 };
            } else if (assignment.kind === 'softmacro') {
                buttons[button.id] = { kind: 'softmacro', macro: assignment.macro, playType: assignment.playType, playCount: assignment.playCount };
            } else if (assignment.kind !== 'unknown') {
                buttons[button.id] = assignment;
            }
        }
        return { settings: { ...s, buttons }, macros };
    }

    async function saveProfile(name, file) {
        await change('card-profiles', async () => {
            const { settings, macros } = collectProfile();
            await bridge.call('modifyProfileXml', { filePath: profilePath(file), contentStr: profileXml(name, settings, macros) });
            const entries = profiles.some((entry) => entry.file === file) ? profiles
                : [...profiles, { name, file }];
            await bridge.call('modifyProfileXml', { filePath: PROFILE_INDEX, contentStr: profileIndexXml(entries) });
            await bridge.call('savexml', {});
            profiles = entries;
        }, 'status.profileSaved', { name });
        renderProfiles();
    }

    function saveNewProfile(event) {
        event.preventDefault();
        const name = $('profile-name').value.trim();
        if (!name) return;
        if (profiles.some((entry) => entry.name === name)) {
            setStatus('profiles.nameTaken', { name }, 'error');
            return;
        }
        $('profile-name').value = '';
        saveProfile(name, newProfileFile(profiles));
    }

    async function removeProfile(entry) {
        const entries = profiles.filter((candidate) => candidate !== entry);
        const ok = await change('card-profiles', async () => {
            await bridge.call('modifyProfileXml', { filePath: PROFILE_INDEX, contentStr: profileIndexXml(entries) });
            await bridge.call('savexml', {});
        }, 'status.profileRemoved', { name: entry.name });
        if (ok) profiles = entries;
        renderProfiles();
    }

    // Writes a profile's settings to the mouse, part by part; a part that fails does not stop the rest.
    async function applyProfile(parsed) {
        const { settings, macros } = parsed;
        const failures = parsed.problems.map((item) => t(item.key, item.params?.part
            ? { ...item.params, part: t(`part.${item.params.part}`) } : item.params));
        const attempt = async (label, work) => {
            try {
                await work();
            } catch (error) {
                failures.push(`${label}: ${error.problemText ?? errorText(error)}`);
            }
        };
        if (macros.length) {
            const merged = [...state.macros.filter((macro) => !macros.some((incoming) => incoming.name === macro.name)), ...macros];
            await attempt(t('tab.macros'), () => storeMacros(merged));
        }
        if (settings.dpi) {
            for (const [index, stage] of settings.dpi.entries()) {
                await attempt(t('dpi.stageN', { n: index + 1 }), async () => {
                    await state.api.writeDpiStage(index, stage);
                    state.settings.dpi[index] = stage;
                });
            }
        }
        if (settings.dpiStage !== undefined) {
            await attempt(t('dpi.active'), async () => { await state.api.writeDpiActive(settings.dpiStage); state.settings.dpiStage = settings.dpiStage; });
        }
        if (settings.reportInterval !== undefined) {
            await attempt(t('rate.heading'), async () => {
                await state.api.writeReportInterval(settings.reportInterval);
                state.settings.reportInterval = settings.reportInterval;
            });
        }
        for (const part of ['lighting', 'debounce', 'sound']) {
            if (!settings[part]) continue;
            const writer = { lighting: state.api.writeLighting, debounce: state.api.writeDebounce, sound: state.api.writeSound }[part];
            await attempt(t(`${part}.heading`), async () => { await writer(settings[part]); state.settings[part] = settings[part]; });
        }
        if (settings.buttons) {
            // Left click first, so the mouse keeps one at every step.
            const order = Object.keys(settings.buttons).map(Number).sort((a, b) => {
                const left = (id) => (settings.buttons[id].kind === 'mouse' && settings.buttons[id].code === MOUSE.left ? 0 : 1);
                return left(a) - left(b) || a - b;
            });
            for (const id of order) {
                await attempt(t('buttons.editing', { n: id, name: t(`button.${buttonById(id).name}`) }),
                    () => assignButton(id, settings.buttons[id]));
            }
        }
        // What the mouse holds now is the confirmation.
        const read = await state.api.readAll();
        state.settings = read;
        renderAll();
        updateSlotUsage();
        return failures;
    }

    async function loadProfile(entry) {
        setStatus('status.profileLoading', { name: entry.name }, 'busy');
        cardState('card-profiles', 'state.saving', {}, 'busy');
        try {
            const text = await bridge.call('queryProfile', { filePath: profilePath(entry.file), xpath: '/profile' });
            const failures = await applyProfile(parseProfile(text, state.keys));
            reportApplied(entry.name, failures, 'card-profiles');
        } catch (error) {
            cardState('card-profiles', 'state.failed', {}, 'error');
            setStatus('status.profileFailed', { name: entry.name, error: error.problemText ?? errorText(error) }, 'error');
        }
    }

    function reportApplied(name, failures, cardId) {
        if (failures.length) {
            cardState(cardId, 'state.partly', {}, 'error');
            setStatus('status.profilePartly', { name, count: failures.length, first: failures[0] }, 'error');
        } else {
            cardState(cardId, 'state.saved', {}, 'ok');
            setStatus('status.profileLoaded', { name }, 'ok');
        }
    }

    // A file dialog holds every other command until it closes; device listings meanwhile would
    // time out and read as an unplugged mouse, so listing pauses.
    async function fileDialog(funcname) {
        pauseListing();
        try {
            return await bridge.call(funcname, {}, { timeout: 60 * 60 * 1000 });
        } finally {
            resumeListing();
        }
    }

    // The file dialogs give absolute paths; the profile commands accept only paths below the
    // application folder, so a file elsewhere is refused with that explanation.
    function chosenPath(answer) {
        const relative = pathInsideAppFolder(appFolderFromPageUrl(location.href), answer);
        if (!relative) throw problem('transfer.outside', { path: answer, folder: appFolderFromPageUrl(location.href) ?? '?' });
        return relative;
    }

    async function exportProfile() {
        let answer;
        try {
            answer = await fileDialog('saveFileDialog');
        } catch (error) {
            if (error?.kind === 'failed') setStatus('status.cancelled', {}, '');
            else setStatus('status.writeFailed', { error: errorText(error) }, 'error');
            return;
        }
        const path = /\.pfd$/i.test(answer) ? answer : `${answer}.pfd`;
        await change('card-transfer', async () => {
            const { settings, macros } = collectProfile();
            const name = path.replace(/^.*[\\/]/, '').replace(/\.pfd$/i, '');
            await bridge.call('modifyProfileXml', { filePath: chosenPath(path), contentStr: profileXml(name, settings, macros) });
            await bridge.call('savexml', {});
        }, 'status.exported', { path });
    }

    async function importProfile() {
        let answer;
        try {
            answer = await fileDialog('openFileDialog');
        } catch (error) {
            if (error?.kind === 'failed') setStatus('status.cancelled', {}, '');
            else setStatus('status.writeFailed', { error: errorText(error) }, 'error');
            return;
        }
        cardState('card-transfer', 'state.saving', {}, 'busy');
        setStatus('status.profileLoading', { name: answer }, 'busy');
        try {
            const text = await bridge.call('queryProfile', { filePath: chosenPath(answer), xpath: '/profile' });
            const parsed = parseProfile(text, state.keys);
            const failures = await applyProfile(parsed);
            reportApplied(parsed.name || answer, failures, 'card-transfer');
        } catch (error) {
            cardState('card-transfer', 'state.failed', {}, 'error');
            setStatus('status.profileFailed', { name: answer, error: error.problemText ?? errorText(error) }, 'error');
        }
    }

    $('profile-new').addEventListener('submit', saveNewProfile);
    $('profile-export').addEventListener('click', exportProfile);
    $('profile-import').addEventListener('click', importProfile);

    return { load: loadProfiles, render: renderProfiles };
}
