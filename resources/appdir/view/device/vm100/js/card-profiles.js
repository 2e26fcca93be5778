// The profiles tab: saved profiles of the mouse's settings and macros, and export to and
// import from a .pfd file.

import { freeName } from './macro.js';
import { BUTTONS, buttonById, MODEL, MOUSE, PROFILE_INDEX } from './model.js';
import { el } from './page.js';
import { exportFileName, keptDamagedCopy, newProfileFile, parseProfile, parseProfileIndex, profileIndexXml,
    profilePath, profileXml } from './profile.js';
import { failureReason, failureStatus, list, text } from './status.js';

// Loading a profile assigns buttons through the buttons card and shows every card again; the
// device listing pauses while a file dialog is open.
export function startProfilesCard(page, { assignButton, renderAll, updateSlotUsage, pauseListing, resumeListing }) {
    const { bridge, state, $, t, setStatus, report, cardState, change, problem, partError, deviceMacroName,
        effectiveAssignment, storeMacros } = page;
    let profiles = [];
    // The parts of the last profile written that did not apply, shown under its card.
    let applied = null;

    async function loadProfiles() {
        try {
            profiles = parseProfileIndex(await bridge.call('queryProfile', { filePath: PROFILE_INDEX, xpath: '/profiles' }));
        } catch (error) {
            profiles = [];
            if (error?.kind !== 'failed') {
                partError('card-profiles', error, loadProfiles);
            } else {
                const kept = await keptDamagedCopy(bridge, PROFILE_INDEX);
                if (kept) {
                    cardState('card-profiles', 'status.profilesDamaged', { file: kept }, 'error');
                    setStatus('status.profilesDamaged', { file: kept }, 'warn', 'card-profiles');
                }
            }
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
        const refusal = !name ? text('profiles.noName') : profiles.some((entry) => entry.name === name)
            ? text('profiles.nameTaken', { name }) : null;
        if (refusal) {
            report('card-profiles', text('status.notSaved', { error: refusal }), 'error');
            $('profile-name').focus();
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
        // Each part that did not apply, as a text naming it and why.
        const failures = parsed.problems.map((item) => text(item.key, item.params?.part
            ? { ...item.params, part: text(`part.${item.params.part}`) } : item.params));
        const attempt = async (label, work) => {
            try {
                await work();
            } catch (error) {
                failures.push(text('profile.partFailed', { part: label, error: failureReason(error) }));
            }
        };
        if (macros.length) {
            const merged = [...state.macros.filter((macro) => !macros.some((incoming) => incoming.name === macro.name)), ...macros];
            await attempt(text('tab.macros'), () => storeMacros(merged));
        }
        if (settings.dpi) {
            for (const [index, stage] of settings.dpi.entries()) {
                await attempt(text('dpi.stageN', { n: index + 1 }), async () => {
                    await state.api.writeDpiStage(index, stage);
                    state.settings.dpi[index] = stage;
                });
            }
        }
        if (settings.dpiStage !== undefined) {
            await attempt(text('profile.activeStage'), async () => { await state.api.writeDpiActive(settings.dpiStage); state.settings.dpiStage = settings.dpiStage; });
        }
        if (settings.reportInterval !== undefined) {
            await attempt(text('rate.heading'), async () => {
                await state.api.writeReportInterval(settings.reportInterval);
                state.settings.reportInterval = settings.reportInterval;
            });
        }
        for (const part of ['lighting', 'debounce', 'sound']) {
            if (!settings[part]) continue;
            const writer = { lighting: state.api.writeLighting, debounce: state.api.writeDebounce, sound: state.api.writeSound }[part];
            await attempt(text(`${part}.heading`), async () => { await writer(settings[part]); state.settings[part] = settings[part]; });
        }
        if (settings.buttons) {
            // Left click first, so the mouse keeps one at every step.
            const order = Object.keys(settings.buttons).map(Number).sort((a, b) => {
                const left = (id) => (settings.buttons[id].kind === 'mouse' && settings.buttons[id].code === MOUSE.left ? 0 : 1);
                return left(a) - left(b) || a - b;
            });
            for (const id of order) {
                await attempt(text('profile.buttonPart', { n: id, name: text(`button.${buttonById(id).name}`) }),
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

    // A profile file's contents; a file that is none is a read failure of its own kind.
    function parseProfileText(answer) {
        try {
            return parseProfile(answer, state.keys);
        } catch {
            throw problem('profile.notProfile', {}, 'fileRead');
        }
    }

    async function readProfileFile(filePath) {
        return parseProfileText(await bridge.call('queryProfile', { filePath, xpath: '/profile' }));
    }

    // Reads a profile and writes it to the mouse. Nothing is written when the file cannot be
    // read; otherwise every part that did not apply is named.
    async function applyProfileFile(cardId, name, filePath) {
        await applyProfileFrom(cardId, name, () => readProfileFile(filePath));
    }

    async function applyProfileFrom(cardId, name, read) {
        setStatus('status.profileLoading', { name }, 'busy', cardId);
        cardState(cardId, 'state.saving', {}, 'busy');
        showApplied(null);
        let parsed;
        try {
            parsed = await read();
        } catch (error) {
            cardState(cardId, 'state.readFailed', {}, 'error');
            report(cardId, text('status.profileUnread', { name, error: failureReason(error) }), 'error');
            return;
        }
        const shownName = parsed.name || name;
        const failures = await applyProfile(parsed);
        if (failures.length) {
            cardState(cardId, 'state.partly', {}, 'error');
            report(cardId, text('status.profilePartly', { name: shownName, count: failures.length,
                parts: list(failures, { long: true }) }), 'error');
            showApplied({ cardId, failures });
        } else {
            cardState(cardId, 'state.saved', {}, 'ok');
            setStatus('status.profileLoaded', { name: shownName }, 'ok', cardId);
        }
    }

    // The list of parts that did not apply, under the card that wrote the profile.
    function showApplied(next) {
        applied = next;
        for (const note of document.querySelectorAll('.apply-report')) note.remove();
        if (!applied) return;
        $(applied.cardId).append(el('div', { class: 'apply-report' },
            el('p', { class: 'error small', text: t('profile.notApplied', { count: applied.failures.length }) }),
            el('ul', {}, ...applied.failures.map((failure) => el('li', { text: page.render(failure) })))));
    }

    function loadProfile(entry) {
        return applyProfileFile('card-profiles', entry.name, profilePath(entry.file));
    }

    // The program's file dialog holds every other command until it closes; device listings
    // meanwhile would time out and read as an unplugged mouse, so listing pauses. The program
    // itself writes or reads the file the user picked, anywhere they may.
    async function inFileDialog(funcname, args) {
        pauseListing();
        try {
            return await bridge.call(funcname, args, { timeout: 60 * 60 * 1000 });
        } finally {
            resumeListing();
        }
    }

    // A dialog closed without a choice is no failure.
    function dialogFailed(error) {
        if (error?.kind === 'failed' && error.text === "doesn't select file") setStatus('status.cancelled', {}, '', 'card-transfer');
        else report('card-transfer', failureStatus(error), 'error');
    }

    async function exportProfile() {
        const { settings, macros } = collectProfile();
        const name = exportFileName(MODEL, new Date());
        let path;
        try {
            path = await inFileDialog('exportProfileFile', { fileName: name, contentStr: profileXml(name, settings, macros) });
        } catch (error) {
            dialogFailed(error);
            return;
        }
        cardState('card-transfer', 'state.saved', {}, 'ok');
        setStatus('status.exported', { path }, 'ok', 'card-transfer');
    }

    async function importProfile() {
        let chosen;
        try {
            chosen = JSON.parse(await inFileDialog('importProfileFile', {}));
        } catch (error) {
            dialogFailed(error);
            return;
        }
        await applyProfileFrom('card-transfer', chosen.path, async () => parseProfileText(chosen.text));
    }

    $('profile-new').addEventListener('submit', saveNewProfile);
    $('profile-export').addEventListener('click', exportProfile);
    $('profile-import').addEventListener('click', importProfile);

    return {
        load: loadProfiles,
        // The profile at `index` of the saved list as it is now (the tray names it so).
        async applyListed(index) {
            await loadProfiles();
            const entry = profiles[index];
            if (entry && state.api) await loadProfile(entry);
        },
        render() {
            renderProfiles();
            if (applied) showApplied(applied);
        },
    };
}
