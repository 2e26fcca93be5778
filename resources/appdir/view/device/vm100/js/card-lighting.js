// The lighting tab: mode, colour, brightness and speed of the mouse's light.

export function startLightingCard(page, { reread }) {
    const { state, $, change, partError, partOk } = page;

    function renderLighting() {
        const lighting = state.settings.lighting;
        if (lighting instanceof Error) return partError('card-lighting', lighting, () => reread(['lighting']));
        const disabled = !lighting;
        for (const id of ['light-mode', 'light-color', 'light-brightness', 'light-speed']) $(id).disabled = disabled;
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

    $('light-mode').addEventListener('change', writeLighting);
    $('light-color').addEventListener('change', writeLighting);
    $('light-brightness').addEventListener('input', () => { $('light-brightness-value').textContent = `${$('light-brightness').value}%`; });
    $('light-brightness').addEventListener('change', writeLighting);
    $('light-speed').addEventListener('input', () => { $('light-speed-value').textContent = $('light-speed').value; });
    $('light-speed').addEventListener('change', writeLighting);

    return { render: renderLighting };
}
