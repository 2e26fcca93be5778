import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import test from 'node:test';

const root = new URL('../../resources/appdir/', import.meta.url);
const bootText = readFileSync(new URL('template/default/js/boot.js', root), 'utf8');
// The pattern boot.js rewrites imports with, taken from its own text.
const IMPORTS = new RegExp(/var IMPORTS = \/(.*)\/g;/.exec(bootText)[1], 'g');

function modules(folder) {
    const names = [];
    for (const entry of readdirSync(new URL(folder, root), { withFileTypes: true })) {
        if (entry.isDirectory()) names.push(...modules(`${folder}${entry.name}/`));
        else if (entry.name.endsWith('.js') && entry.name !== 'boot.js') names.push(`${folder}${entry.name}`);
    }
    return names;
}

test('the module loader for file pages finds every relative import of the page modules', () => {
    const files = [...modules('template/default/js/'), ...modules('view/device/vm100/js/')];
    assert.ok(files.length > 15);
    for (const file of files) {
        const text = readFileSync(new URL(file, root), 'utf8');
        // Every statement that names a module, found independently of the loader's pattern.
        const statements = [...text.matchAll(/^(?:import|export)\b[^;]*?\bfrom\s+(['"])(.*?)\1;/gms)].map((match) => match[2]);
        const found = [...text.matchAll(IMPORTS)].map((match) => match[3]);
        assert.deepEqual(found, statements, file);
        assert.ok(statements.every((specifier) => specifier.startsWith('./') || specifier.startsWith('../')), file);
    }
});

test('the loader rewrites the import forms modules use', () => {
    const source = `import { a,\n    b } from './a.js';\nimport c from "../c.js";\nimport * as d from './d.js';\nexport { e } from './e.js';\nexport * from './f.js';\nconst text = 'import nothing';`;
    assert.deepEqual([...source.matchAll(IMPORTS)].map((match) => match[3]), ['./a.js', '../c.js', './d.js', './e.js', './f.js']);
});

test('the main page preloads exactly the modules its entry reaches', () => {
    const page = readFileSync(new URL('template/default/index.html', root), 'utf8');
    const preloaded = [...page.matchAll(/<link rel="modulepreload" href="([^"]+)">/g)].map((match) => `template/default/${match[1]}`).sort();
    const entry = `template/default/${/<script type="module" src="([^"]+)"/.exec(page)[1]}`;
    const reached = new Set();
    const visit = (file) => {
        if (reached.has(file)) return;
        reached.add(file);
        const text = readFileSync(new URL(file, root), 'utf8');
        for (const match of text.matchAll(IMPORTS)) visit(new URL(match[3], new URL(file, 'x:/')).pathname.slice(1));
    };
    visit(entry);
    assert.deepEqual(preloaded, [...reached].sort());
});
