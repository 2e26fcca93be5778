// The debounce and sound tab: the button debounce time, the lift-off height, and the sound.

import { LIFT_OFF_MM } from './model.js';
import { el } from './page.js';

export function startDebounceSoundCard(page, { reread }) {
    const { state, $, t, change, partError, partOk } = page;

    function renderDebounce() {
        const debounce = state.settings.debounce;
        if (debounce instanceof Error) return partError('card-debounce', debounce, () => reread(['debounce']));
        $('debounce-time').disabled = !debounce;
        if (!debounce) return;
        partOk('card-debounce');
        $('debounce-time').value = String(debounce.time);
        $('debounce-time-value').textContent = t('unit.ms', { n: debounce.time });
        $('lift-options').replaceChildren(...LIFT_OFF_MM.map((mm) => el('button', {
            class: mm === debounce.liftOff ? 'selected' : '', 'data-mm': String(mm), role: 'radio', 'aria-checked': String(mm === debounce.liftOff),
            text: t('unit.mm', { n: mm }), onclick: () => writeDebounce({ liftOff: mm }),
        })));
    }

    async function writeDebounce(part) {
        const current = state.settings.debounce;
        if (!current || current instanceof Error) return;
        const next = { ...current, time: Number($('debounce-time').value), ...part };
        const ok = await change('card-debounce', () => state.api.writeDebounce(next), 'status.debounceSet',
            { ms: next.time, mm: next.liftOff });
        if (ok) state.settings.debounce = next;
        renderDebounce();
    }

    function renderSound() {
        const sound = state.settings.sound;
        if (sound instanceof Error) return partError('card-sound', sound, () => reread(['sound']));
        $('sound-on').disabled = !sound;
        $('sound-volume').disabled = !sound || !sound.on;
        if (!sound) return;
        partOk('card-sound');
        $('sound-on').checked = sound.on;
        $('sound-volume').value = String(sound.volume);
        $('sound-volume-value').textContent = `${sound.volume}%`;
    }

    async function writeSound() {
        const current = state.settings.sound;
        if (!current || current instanceof Error) return;
        const next = { ...current, on: $('sound-on').checked, volume: Number($('sound-volume').value) };
        const ok = await change('card-sound', () => state.api.writeSound(next), next.on ? 'status.soundOn' : 'status.soundOff',
            { volume: next.volume });
        if (ok) state.settings.sound = next;
        renderSound();
    }

    $('debounce-time').addEventListener('input', () => { $('debounce-time-value').textContent = t('unit.ms', { n: $('debounce-time').value }); });
    $('debounce-time').addEventListener('change', () => writeDebounce({}));
    $('sound-on').addEventListener('change', writeSound);
    $('sound-volume').addEventListener('input', () => { $('sound-volume-value').textContent = `${$('sound-volume').value}%`; });
    $('sound-volume').addEventListener('change', writeSound);

    return {
        render() {
            renderDebounce();
            renderSound();
        },
    };
}
