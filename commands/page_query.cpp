#include "commands/page_query.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>

#include <cmath>
#include <limits>

namespace commands {
namespace {

int heldToInt(qlonglong value) {
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

}  // namespace

std::optional<QVariantMap> parsePageQuery(const QString& text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QVariantMap query = document.object().toVariantMap();
    if (!query.contains(QStringLiteral("funcname")))
        return std::nullopt;
    return query;
}

QString argumentText(const QVariant& value) {
    // Qt keeps integral JSON numbers as 64-bit integers; the rest are doubles, which it would
    // write in exponent form when large or small.
    if (value.userType() == QMetaType::Double)
        return QString::number(value.toDouble(), 'f', QLocale::FloatingPointShortest);
    return value.toString();
}

int argumentNumber(const QVariant& value) {
    switch (value.userType()) {
        case QMetaType::LongLong:
        case QMetaType::Int:
            return heldToInt(value.toLongLong());
        case QMetaType::Double: {
            const double number = value.toDouble();
            if (std::isnan(number))
                return 0;
            if (number >= static_cast<double>(std::numeric_limits<int>::max()))
                return std::numeric_limits<int>::max();
            if (number <= static_cast<double>(std::numeric_limits<int>::min()))
                return std::numeric_limits<int>::min();
            return static_cast<int>(std::lround(number));
        }
        case QMetaType::QString: {
            bool ok = false;
            const qlonglong number = value.toString().toLongLong(&ok);
            return ok ? heldToInt(number) : 0;
        }
        default:
            return 0;
    }
}

}  // namespace commands
