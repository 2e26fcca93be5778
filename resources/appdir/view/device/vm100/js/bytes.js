// Property and memory contents as the device commands carry them: read answers list each
// byte as 0x followed by two hex digits, joined by ","; writes send items read base 16.

export function parseByteList(text, size) {
    const items = String(text ?? '').split(',');
    if (text === '' || items.length !== size) {
        throw new Error(`expected ${size} bytes, got "${String(text).slice(0, 40)}"`);
    }
    return items.map((item) => {
        if (!/^0x[0-9a-fA-F]{2}$/.test(item.trim())) throw new Error(`not a byte: "${item}"`);
        return parseInt(item.trim(), 16);
    });
}

export function hexByte(value) {
    if (!Number.isInteger(value) || value < 0 || value > 0xff) throw new RangeError(`not a byte: ${value}`);
    return `0x${value.toString(16).padStart(2, '0')}`;
}

export function toParamData(bytes) {
    return bytes.map(hexByte).join(',');
}

export function clampInt(value, min, max) {
    const number = Math.round(Number(value));
    if (!Number.isFinite(number)) return min;
    return Math.min(max, Math.max(min, number));
}
