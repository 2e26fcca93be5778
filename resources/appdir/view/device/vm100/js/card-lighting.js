// The lighting tab: mode, colour, brightness and speed of the mouse's light. Controls the
// chosen mode does not use are disabled, so no change seems to take that has no effect.

import { lightingControls } from './lighting.js';

const CONTROLS = { color: 'light-color', brightness: 'light-brightness', speed: 'light-speed' };

export function startLightingCard(page, { reread }) {
    const { state, $, t, change, partError, partOk } = page;

    // Enables the controls `mode` uses; null: none, while nothing has been read.
    function enableFor(mode) {
        const used = mode === null ? {} : lightingControls(mode);
        $('light-mode').disabled = mode === null;
        for (const [name, id] of Object.entries(CONTROLS)) {
            $(id).disabled = !used[name];
            for (const part of document.querySelectorAll(`#card-lighting [data-control="${name}"]`)) {
                part.classList.toggle('unused', mode !== null && !used[name]);
                part.title = mode !== null && !used[name] ? t('lighting.unused') : '';
            }
        }
    }

    function renderLighting() {
        const lighting = state.settings.lighting;
        if (lighting instanceof Error) {
            enableFor(null);
            return partError('card-lighting', lighting, () => reread(['lighting']));
        }
        enableFor(lighting ? lighting.mode : null);
        if (!lighting) return;
        partOk('card-lighting');
        $('light-mode').value = String(lighting.mode);
        $('light-color').value = lighting.color;
        $('light-color-text').textContent = lighting.color;
        $('light-brightness').value = String(lighting.brightness);
        $('light-brightness-value').textContent = `${lighting.brightness}%`;
        $('light-speed').value = String(lighting.speed);
        $('light-speed-value').textContent = String(lighting.speed);
        const preview = $('light-preview');
        preview.style.setProperty('--glow', lighting.color);
        preview.style.opacity = lighting.mode === 0 ? '0.15' : String(0.25 + 0.75 * lighting.brightness / 100);
        preview.dataset.mode = String(lighting.mode);
        preview.style.setProperty('--speed', `${(6 - lighting.speed) * 0.8}s`);
    }

    async function writeLighting() {
        const current = state.settings.lighting;
        if (!current || current instanceof Error) return;
        const next = { ...current, mode: Number($('light-mode').value), color: $('light-color').value,
            brightness: Number($('light-brightness').value), speed: Number($('light-speed').value) };
        const ok = await change('card-lighting', () => state.api.writeLighting(next), 'status.lightingSet');
        if (ok) state.settings.lighting = next;
        renderLighting();
    }

    // The controls follow the chosen mode at once, not only once the mouse has taken it.
    $('light-mode').addEventListener('change', () => {
        enableFor(Number($('light-mode').value));
        writeLighting();
    });
    $('light-color').addEventListener('change', writeLighting);
    $('light-brightness').addEventListener('input', () => { $('light-brightness-value').textContent = `${$('light-brightness').value}%`; });
    $('light-brightness').addEventListener('change', writeLighting);
    $('light-speed').addEventListener('input', () => { $('light-speed-value').textContent = $('light-speed').value; });
    $('light-speed').addEventListener('change', writeLighting);

    return { render: renderLighting };
}
