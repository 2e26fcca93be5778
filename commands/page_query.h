#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace commands {

// A page's query text as the dispatcher reads it: a JSON object (UTF-8) naming its command in
// the member `funcname`, as a map of its members. Nothing for any other text.
std::optional<QVariantMap> parsePageQuery(const QString& text);

// An argument read as text: a JSON number becomes its decimal text (never an exponent form),
// a missing one "".
QString argumentText(const QVariant& value);

// An argument read as an integer: a JSON number, rounded, or a text holding a decimal
// integer; values beyond the int range are held at its ends rather than wrapped, so that
// they stay out of range. Anything else is 0.
int argumentNumber(const QVariant& value);

}  // namespace commands
