import assert from 'node:assert/strict';
import test from 'node:test';

import { childElements, element, firstChild, parseDocument, parseFragment, serialize, textContent, xpathLiteral, XmlError }
    from '../../resources/appdir/template/default/js/xml.js';

test('a queryProfile answer with sibling elements gives each of them, with attributes decoded', () => {
    const answer = '<key name="A" hidCode="0x04" />\n<key name="&apos;" hidCode="0x34" />\n<key name="左键" hidCode="0x01" />\n';
    const nodes = parseFragment(answer);
    assert.deepEqual(nodes.map((node) => node.attrs.name), ['A', "'", '左键']);
    assert.deepEqual(parseFragment(''), []);
});

test('a document with declaration, comments, nested elements, text and CDATA is read', () => {
    const root = parseDocument(`<?xml version="1.0" encoding="utf-8"?>
<!-- saved by the page -->
<profile name="a &amp; b">
\t<performance dpiStage="1"><dpi x="800" /></performance>
\t<note>x &lt; y<![CDATA[<raw>]]>&#x41;&#66;</note>
</profile>`);
    assert.equal(root.attrs.name, 'a & b');
    assert.equal(firstChild(firstChild(root, 'performance'), 'dpi').attrs.x, '800');
    assert.equal(textContent(firstChild(root, 'note')), 'x < y<raw>AB');
    assert.equal(childElements(root).length, 2);
});

test('malformed text is refused, not half read', () => {
    for (const text of ['<a>', '<a></b>', '<a x="1" x="2"/>', '<a x=1/>', '<a>&</a>', '<a>&nbsp;</a>', '<a/><b/>', '', 'text']) {
        assert.throws(() => parseDocument(text), XmlError, text);
    }
});

test('written XML reads back the same, whatever the attribute values hold', () => {
    const tricky = 'quote " apostrophe \' <tag> & tab\tnewline\n';
    const root = element('macros', {}, [element('macro', { name: tricky }, [element('down', { key: '\\' })])]);
    const text = serialize(root);
    assert.match(text, /^<\?xml version="1.0" encoding="utf-8"\?>\n<macros>\n\t<macro /);
    const back = parseDocument(text);
    assert.equal(firstChild(back, 'macro').attrs.name, tricky);
    assert.equal(firstChild(firstChild(back, 'macro'), 'down').attrs.key, '\\');
});

test('XPath literals quote any text', () => {
    assert.equal(xpathLiteral('04D9A0D2'), "'04D9A0D2'");
    assert.equal(xpathLiteral("it's"), '"it\'s"');
    assert.equal(xpathLiteral(`a'b"c`), `concat('a', "'", 'b"c')`);
});
