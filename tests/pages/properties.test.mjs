import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import test from 'node:test';

import { DPI_STAGES, PROP, SIZE } from '../../resources/appdir/view/device/vm100/js/model.js';

// The device layer's property table by name (kButtonFirst is ButtonFirst), read from its header.
const header = readFileSync(new URL('../../device/vm100_properties.h', import.meta.url), 'utf8');
const table = Object.fromEntries([...header.matchAll(/^\s*constexpr\s+Property\s+k(\w+)\s*\{\s*(\d+)\s*,\s*(\d+)\s*\}\s*;/gm)]
    .map(([, name, id, size]) => [name, { id: Number(id), size: Number(size) }]));

test('the page model has the property ids and sizes of the device layer\'s table', () => {
    const names = ['ButtonFirst', 'ButtonLast', 'ReportRate', 'Lighting', 'Debounce', 'Sound', 'DpiStage', 'DpiFirst', 'DpiLast'];
    assert.deepEqual(names.filter((name) => !(name in table)), [], 'entries missing from the header');
    const cases = [
        ['first button id', PROP.buttonFirst, table.ButtonFirst.id],
        ['last button id', PROP.buttonLast, table.ButtonLast.id],
        ['button size', SIZE.button, table.ButtonFirst.size],
        ['report rate id', PROP.reportRate, table.ReportRate.id],
        ['report rate size', SIZE.reportRate, table.ReportRate.size],
        ['lighting id', PROP.lighting, table.Lighting.id],
        ['lighting size', SIZE.lighting, table.Lighting.size],
        ['debounce id', PROP.debounce, table.Debounce.id],
        ['debounce size', SIZE.debounce, table.Debounce.size],
        ['sound id', PROP.sound, table.Sound.id],
        ['sound size', SIZE.sound, table.Sound.size],
        ['DPI stage id', PROP.dpiStage, table.DpiStage.id],
        ['DPI stage size', SIZE.dpiStage, table.DpiStage.size],
        ['first DPI id', PROP.dpiFirst, table.DpiFirst.id],
        ['DPI size', SIZE.dpi, table.DpiFirst.size],
        ['number of DPI stages', DPI_STAGES, table.DpiLast.id - table.DpiFirst.id + 1],
    ];
    const differing = cases.filter(([, page, device]) => page !== device)
        .map(([what, page, device]) => `${what}: page ${page}, header ${device}`);
    assert.deepEqual(differing, []);
});
