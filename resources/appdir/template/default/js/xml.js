// A small XML reader and writer for the profile, key-definition and key-map files the pages
// exchange as text with the native side (queryProfile answers, modifyProfileXml content). It
// knows elements, attributes, text, comments, CDATA and declarations: what those files hold.

export class XmlError extends Error {}

// An element: { name, attrs: {name: value}, children: [element | string] }.
export function element(name, attrs = {}, children = []) {
    return { name, attrs: { ...attrs }, children: [...children] };
}

const NAME = /[A-Za-z_:\u00C0-\uFFFF][-A-Za-z0-9_:.\u00B7\u00C0-\uFFFF]*/y;
const ENTITIES = { lt: '<', gt: '>', amp: '&', quot: '"', apos: "'" };

function decodeEntities(text, at) {
    return text.replace(/&(#x[0-9A-Fa-f]+|#[0-9]+|[A-Za-z]+);|&/g, (match, body) => {
        if (!body) throw new XmlError(`bare "&" near ${at}`);
        if (body[0] === '#') {
            const code = body[1] === 'x' ? parseInt(body.slice(2), 16) : parseInt(body.slice(1), 10);
            if (!(code > 0 && code <= 0x10ffff)) throw new XmlError(`bad character reference near ${at}`);
            return String.fromCodePoint(code);
        }
        if (!(body in ENTITIES)) throw new XmlError(`unknown entity &${body}; near ${at}`);
        return ENTITIES[body];
    });
}

class Reader {
    constructor(text) {
        this.text = text;
        this.at = 0;
    }

    startsWith(token) {
        return this.text.startsWith(token, this.at);
    }

    skipSpace() {
        while (this.at < this.text.length && /\s/.test(this.text[this.at])) this.at++;
    }

    skipPast(token, what) {
        const end = this.text.indexOf(token, this.at);
        if (end < 0) throw new XmlError(`unterminated ${what} at ${this.at}`);
        const body = this.text.slice(this.at, end);
        this.at = end + token.length;
        return body;
    }

    name() {
        NAME.lastIndex = this.at;
        const match = NAME.exec(this.text);
        if (!match) throw new XmlError(`name expected at ${this.at}`);
        this.at = NAME.lastIndex;
        return match[0];
    }

    // Comments, processing instructions and the document type between elements.
    skipMisc() {
        for (;;) {
            this.skipSpace();
            if (this.startsWith('<!--')) {
                this.at += 4;
                this.skipPast('-->', 'comment');
            } else if (this.startsWith('<?')) {
                this.at += 2;
                this.skipPast('?>', 'declaration');
            } else if (this.startsWith('<!DOCTYPE')) {
                this.skipPast('>', 'document type');
            } else {
                return;
            }
        }
    }

    element() {
        if (!this.startsWith('<')) throw new XmlError(`element expected at ${this.at}`);
        this.at++;
        const node = element(this.name());
        for (;;) {
            const before = this.at;
            this.skipSpace();
            if (this.startsWith('/>')) {
                this.at += 2;
                return node;
            }
            if (this.startsWith('>')) {
                this.at++;
                break;
            }
            if (this.at === before) throw new XmlError(`space expected at ${this.at}`);
            const attr = this.name();
            this.skipSpace();
            if (this.text[this.at] !== '=') throw new XmlError(`"=" expected at ${this.at}`);
            this.at++;
            this.skipSpace();
            const quote = this.text[this.at];
            if (quote !== '"' && quote !== "'") throw new XmlError(`quote expected at ${this.at}`);
            this.at++;
            const raw = this.skipPast(quote, 'attribute');
            if (raw.includes('<')) throw new XmlError(`"<" in attribute ${attr}`);
            if (Object.prototype.hasOwnProperty.call(node.attrs, attr)) {
                throw new XmlError(`attribute ${attr} given twice`);
            }
            node.attrs[attr] = decodeEntities(raw, this.at);
        }
        for (;;) {
            if (this.at >= this.text.length) throw new XmlError(`<${node.name}> is not closed`);
            if (this.startsWith('</')) {
                this.at += 2;
                const closing = this.name();
                if (closing !== node.name) throw new XmlError(`</${closing}> closes <${node.name}>`);
                this.skipSpace();
                if (this.text[this.at] !== '>') throw new XmlError(`">" expected at ${this.at}`);
                this.at++;
                return node;
            }
            if (this.startsWith('<!--')) {
                this.at += 4;
                this.skipPast('-->', 'comment');
            } else if (this.startsWith('<![CDATA[')) {
                this.at += 9;
                node.children.push(this.skipPast(']]>', 'CDATA section'));
            } else if (this.startsWith('<?')) {
                this.at += 2;
                this.skipPast('?>', 'processing instruction');
            } else if (this.startsWith('<')) {
                node.children.push(this.element());
            } else {
                const end = this.text.indexOf('<', this.at);
                const stop = end < 0 ? this.text.length : end;
                node.children.push(decodeEntities(this.text.slice(this.at, stop), this.at));
                this.at = stop;
            }
        }
    }
}

// The elements of a text holding any number of top-level elements: a queryProfile answer
// prints every selected node one after another, and an empty selection is an empty text.
export function parseFragment(text) {
    const reader = new Reader(String(text ?? ''));
    const nodes = [];
    for (;;) {
        reader.skipMisc();
        if (reader.at >= reader.text.length) return nodes;
        nodes.push(reader.element());
    }
}

// A whole document: exactly one root element.
export function parseDocument(text) {
    const nodes = parseFragment(text);
    if (nodes.length !== 1) throw new XmlError(nodes.length ? 'more than one root element' : 'no root element');
    return nodes[0];
}

export function childElements(node, name) {
    return node.children.filter((child) => typeof child !== 'string' && (name === undefined || child.name === name));
}

export function firstChild(node, name) {
    return childElements(node, name)[0] ?? null;
}

export function textContent(node) {
    return node.children.map((child) => (typeof child === 'string' ? child : textContent(child))).join('');
}

export function escapeText(text) {
    return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

export function escapeAttribute(text) {
    return escapeText(text).replace(/"/g, '&quot;').replace(/\t/g, '&#9;').replace(/\n/g, '&#10;')
        .replace(/\r/g, '&#13;');
}

// Literal for an XPath comparison; a value holding both quote kinds needs concat().
export function xpathLiteral(value) {
    const text = String(value);
    if (!text.includes("'")) return `'${text}'`;
    if (!text.includes('"')) return `"${text}"`;
    return `concat('${text.split("'").join(`', "'", '`)}')`;
}

function write(node, indent, depth, out) {
    const pad = indent.repeat(depth);
    const attrs = Object.entries(node.attrs).map(([key, value]) => ` ${key}="${escapeAttribute(value)}"`).join('');
    if (!node.children.length) {
        out.push(`${pad}<${node.name}${attrs} />`);
        return;
    }
    const onlyText = node.children.every((child) => typeof child === 'string');
    if (onlyText) {
        out.push(`${pad}<${node.name}${attrs}>${escapeText(node.children.join(''))}</${node.name}>`);
        return;
    }
    out.push(`${pad}<${node.name}${attrs}>`);
    for (const child of node.children) {
        if (typeof child === 'string') {
            if (child.trim()) out.push(pad + indent + escapeText(child.trim()));
        } else {
            write(child, indent, depth + 1, out);
        }
    }
    out.push(`${pad}</${node.name}>`);
}

export function serialize(node, { declaration = true, indent = '\t' } = {}) {
    const out = declaration ? ['<?xml version="1.0" encoding="utf-8"?>'] : [];
    write(node, indent, 0, out);
    return `${out.join('\n')}\n`;
}
