// The key table the device page builds from the shipped key-definition file, read the way the
// queryProfile answers give it: the selected elements printed one after another.
import { readFileSync } from 'node:fs';

import { parseFragment, serialize } from '../../resources/appdir/template/default/js/xml.js';
import { parseKeyTable } from '../../resources/appdir/view/device/vm100/js/keys.js';

const file = readFileSync(new URL('../../resources/appdir/Resources/mouse1.1.xml', import.meta.url), 'utf8');
const [keyboard] = parseFragment(file);
const answer = (name) => keyboard.children.filter((node) => typeof node !== 'string' && node.name === name)
    .map((node) => serialize(node, { declaration: false })).join('');

export const keysAnswer = answer('key');
export const macrosAnswer = answer('macro');
export const keys = parseKeyTable(keysAnswer, macrosAnswer);
