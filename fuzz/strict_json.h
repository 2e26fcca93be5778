#pragma once

// An RFC 8259 reader of its own, independent of Qt's, for targets whose output or input is JSON
// text: it decides whether a text is valid JSON and what its strings hold, code unit for code
// unit (a \u escape of a lone surrogate stays a lone surrogate).

#include <QByteArray>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fuzz {
namespace json {

struct Value {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    std::string number;   // the number's text as written
    std::u16string text;  // a string's code units
    std::vector<Value> items;
    std::vector<std::pair<std::u16string, Value>> members;  // in document order, duplicates kept

    // The last member of that name, as readers that let a later duplicate win see it.
    const Value* member(const std::u16string& name) const {
        const Value* found = nullptr;
        for (const auto& m : members) {
            if (m.first == name)
                found = &m.second;
        }
        return found;
    }
    bool hasDuplicateMembers() const {
        for (std::size_t i = 0; i < members.size(); ++i) {
            for (std::size_t j = i + 1; j < members.size(); ++j) {
                if (members[i].first == members[j].first)
                    return true;
            }
        }
        return false;
    }
};

class Reader {
  public:
    explicit Reader(const QByteArray& text)
        : p_(text.constData()), end_(text.constData() + text.size()) {}

    // The document, or none when the text is not exactly one JSON value surrounded by
    // whitespace. `depth` receives the deepest nesting of arrays and objects.
    std::optional<Value> document(int& depth) {
        Value value;
        skipSpace();
        if (!readValue(value, 1))
            return std::nullopt;
        skipSpace();
        if (p_ != end_)
            return std::nullopt;
        depth = deepest_;
        return value;
    }

  private:
    static constexpr int kDepthLimit = 5000;

    void skipSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
            ++p_;
    }
    bool literal(const char* word) {
        const char* q = p_;
        for (; *word; ++word, ++q) {
            if (q == end_ || *q != *word)
                return false;
        }
        p_ = q;
        return true;
    }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    bool readValue(Value& value, int depth) {
        if (p_ == end_)
            return false;
        switch (*p_) {
            case '{':
                return readObject(value, depth);
            case '[':
                return readArray(value, depth);
            case '"':
                value.type = Value::Type::String;
                return readString(value.text);
            case 't':
                value.type = Value::Type::Bool;
                value.boolean = true;
                return literal("true");
            case 'f':
                value.type = Value::Type::Bool;
                return literal("false");
            case 'n':
                value.type = Value::Type::Null;
                return literal("null");
            default:
                value.type = Value::Type::Number;
                return readNumber(value.number);
        }
    }

    bool enter(int depth) {
        if (depth > kDepthLimit)
            return false;
        if (depth > deepest_)
            deepest_ = depth;
        return true;
    }

    bool readObject(Value& value, int depth) {
        if (!enter(depth))
            return false;
        value.type = Value::Type::Object;
        ++p_;
        skipSpace();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            return true;
        }
        for (;;) {
            skipSpace();
            std::u16string name;
            if (p_ == end_ || *p_ != '"' || !readString(name))
                return false;
            skipSpace();
            if (p_ == end_ || *p_ != ':')
                return false;
            ++p_;
            skipSpace();
            Value member;
            if (!readValue(member, depth + 1))
                return false;
            value.members.emplace_back(std::move(name), std::move(member));
            skipSpace();
            if (p_ == end_)
                return false;
            if (*p_ == '}') {
                ++p_;
                return true;
            }
            if (*p_ != ',')
                return false;
            ++p_;
        }
    }

    bool readArray(Value& value, int depth) {
        if (!enter(depth))
            return false;
        value.type = Value::Type::Array;
        ++p_;
        skipSpace();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            return true;
        }
        for (;;) {
            skipSpace();
            Value item;
            if (!readValue(item, depth + 1))
                return false;
            value.items.push_back(std::move(item));
            skipSpace();
            if (p_ == end_)
                return false;
            if (*p_ == ']') {
                ++p_;
                return true;
            }
            if (*p_ != ',')
                return false;
            ++p_;
        }
    }

    bool readNumber(std::string& number) {
        const char* start = p_;
        if (p_ != end_ && *p_ == '-')
            ++p_;
        if (p_ == end_ || !isDigit(*p_))
            return false;
        if (*p_ == '0') {
            ++p_;
        } else {
            while (p_ != end_ && isDigit(*p_))
                ++p_;
        }
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            if (p_ == end_ || !isDigit(*p_))
                return false;
            while (p_ != end_ && isDigit(*p_))
                ++p_;
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-'))
                ++p_;
            if (p_ == end_ || !isDigit(*p_))
                return false;
            while (p_ != end_ && isDigit(*p_))
                ++p_;
        }
        number.assign(start, p_);
        return true;
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // One UTF-8 sequence (no overlong forms, no surrogates, at most U+10FFFF).
    bool readUtf8(std::u16string& out) {
        const auto lead = static_cast<unsigned char>(*p_++);
        int extra;
        char32_t code;
        char32_t least;
        if (lead < 0x80) {
            out.push_back(char16_t(lead));
            return true;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        for (int i = 0; i < extra; ++i) {
            if (p_ == end_ || (static_cast<unsigned char>(*p_) & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (static_cast<unsigned char>(*p_++) & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(char16_t(0xD800 + (code >> 10)));
            out.push_back(char16_t(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(char16_t(code));
        }
        return true;
    }

    bool readString(std::u16string& out) {
        ++p_;  // the opening quote
        for (;;) {
            if (p_ == end_)
                return false;
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c != '\\') {
                if (!readUtf8(out))
                    return false;
                continue;
            }
            ++p_;
            if (p_ == end_)
                return false;
            const char escape = *p_++;
            switch (escape) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(char16_t(escape));
                    break;
                case 'b':
                    out.push_back(u'\b');
                    break;
                case 'f':
                    out.push_back(u'\f');
                    break;
                case 'n':
                    out.push_back(u'\n');
                    break;
                case 'r':
                    out.push_back(u'\r');
                    break;
                case 't':
                    out.push_back(u'\t');
                    break;
                case 'u': {
                    char16_t unit = 0;
                    for (int i = 0; i < 4; ++i) {
                        const int digit = p_ == end_ ? -1 : hexDigit(*p_++);
                        if (digit < 0)
                            return false;
                        unit = char16_t(unit << 4 | digit);
                    }
                    out.push_back(unit);
                    break;
                }
                default:
                    return false;
            }
        }
    }

    const char* p_;
    const char* end_;
    int deepest_ = 0;
};

// The document in `text`, or none when it is not valid JSON.
inline std::optional<Value> parse(const QByteArray& text, int& depth) {
    return Reader(text).document(depth);
}

inline std::optional<Value> parse(const QByteArray& text) {
    int depth = 0;
    return Reader(text).document(depth);
}

// `text` as a JSON string literal: only what must be escaped is, so any code units pass
// (a lone surrogate as its \u escape).
inline QByteArray quote(const std::u16string& text) {
    static const char hex[] = "0123456789abcdef";
    QByteArray out("\"");
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u == u'"' || u == u'\\') {
            out += '\\';
            out += char(u);
        } else if (u < 0x20 || (u >= 0xD800 && u <= 0xDFFF &&
                                !(u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                                  text[i + 1] <= 0xDFFF))) {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hex[(u >> shift) & 0xF];
        } else if (u >= 0xD800 && u <= 0xDBFF) {
            // A valid pair: the code point in UTF-8.
            const char32_t code = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (text[++i] - 0xDC00);
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else if (u < 0x80) {
            out += char(u);
        } else if (u < 0x800) {
            out += char(0xC0 | (u >> 6));
            out += char(0x80 | (u & 0x3F));
        } else {
            out += char(0xE0 | (u >> 12));
            out += char(0x80 | ((u >> 6) & 0x3F));
            out += char(0x80 | (u & 0x3F));
        }
    }
    out += '"';
    return out;
}

}  // namespace json
}  // namespace fuzz
