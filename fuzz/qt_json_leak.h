#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

#include <algorithm>
#include <optional>

#include "fuzz/strict_json.h"

namespace fuzz {

// Qt 5.15's JSON reader leaks a non-empty array or object that a later member of the same name
// replaces, e.g. {"d":[0],"d":1}: a leak inside Qt, which the project cannot free and which the
// leak checker would report for every such text. Such texts are not handed to Qt: exactly those
// for a valid document, and for any other text every one in which a string occurs twice.
inline bool replacesContainer(const json::Value& value) {
    if (value.type == json::Value::Type::Array)
        return std::any_of(value.items.cbegin(), value.items.cend(), replacesContainer);
    if (value.type != json::Value::Type::Object)
        return false;
    for (size_t i = 0; i < value.members.size(); ++i) {
        const json::Value& member = value.members[i].second;
        const bool filled = !member.items.empty() || !member.members.empty();
        for (size_t j = i + 1; filled && j < value.members.size(); ++j) {
            if (value.members[j].first == value.members[i].first)
                return true;
        }
        if (replacesContainer(member))
            return true;
    }
    return false;
}

inline bool repeatsAString(const QByteArray& text) {
    QSet<QString> seen;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != '"')
            continue;
        QByteArray raw;
        QString decoded;
        for (++i; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] != '\\') {
                raw += text[i];
                continue;
            }
            decoded += QString::fromUtf8(raw);
            raw.clear();
            if (++i >= text.size())
                break;
            const char escape = text[i];
            if (escape == 'u' && i + 4 < text.size()) {
                decoded += QChar(ushort(text.mid(i + 1, 4).toUInt(nullptr, 16)));
                i += 4;
            } else {
                static const QByteArray from("bfnrt"), to("\b\f\n\r\t");
                const int at = from.indexOf(escape);
                decoded += QLatin1Char(at < 0 ? escape : to[at]);
            }
        }
        decoded += QString::fromUtf8(raw);
        if (seen.contains(decoded))
            return true;
        seen.insert(decoded);
    }
    return false;
}

inline bool meetsQtsReplacedContainerLeak(const QByteArray& text) {
    const std::optional<json::Value> document = json::parse(text);
    return document ? replacesContainer(*document) : repeatsAString(text);
}

}  // namespace fuzz
