#include "update/http_range.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

#include <limits>

#include "storage/path_rule.h"

namespace {

bool acceptedStatus(int status) {
    return status == 0 || status == update::kStatusOk || status == update::kStatusPartial ||
           status == update::kStatusRangeNotSatisfiable;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The decimal digits at `at`, moving past them; false when there are none or they exceed the
// largest qint64.
bool readNumber(const QByteArray& text, int& at, qint64& value) {
    const int begin = at;
    value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const int digit = text[at] - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return at > begin;
}

bool readChar(const QByteArray& text, int& at, char c) {
    if (at >= text.size() || text[at] != c)
        return false;
    ++at;
    return true;
}

}  // namespace

namespace update {

bool isWebUrl(const QString& url) {
    const QUrl parsed(url);
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && !parsed.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

bool isTrustedTransport(const QString& url) {
    if (!isWebUrl(url))
        return false;
    const QUrl parsed(url);
    if (parsed.scheme().toLower() == QLatin1String("https"))
        return true;
    const QString host = parsed.host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

QString downloadFileName(const QString& url) {
    const QRegularExpression pattern(QStringLiteral("/([^/\\?]+)(\\?|$)"));
    const QString name = pattern.match(url).captured(1);
    // One part that names a file, not the folder itself or its parent.
    if (name.contains(QLatin1Char('\\')) || name == QLatin1String(".") ||
        !storage::isContainedRelativePath(name)) {
        return QString();
    }
    return name;
}

std::optional<ContentRange> parseContentRange(const QByteArray& value) {
    int at = 0;
    while (at < value.size() && isBlank(value[at]))
        ++at;
    const QByteArray unit("bytes");
    if (value.mid(at, unit.size()).toLower() != unit)
        return std::nullopt;
    at += unit.size();
    if (at >= value.size() || !isBlank(value[at]))
        return std::nullopt;
    while (at < value.size() && isBlank(value[at]))
        ++at;
    ContentRange range;
    if (readChar(value, at, '*')) {
        if (!readChar(value, at, '/') || !readNumber(value, at, range.total))
            return std::nullopt;
    } else {
        if (!readNumber(value, at, range.first) || !readChar(value, at, '-') ||
            !readNumber(value, at, range.last) || !readChar(value, at, '/'))
            return std::nullopt;
        if (!readChar(value, at, '*') && !readNumber(value, at, range.total))
            return std::nullopt;
        if (range.first > range.last || (range.total >= 0 && range.last >= range.total))
            return std::nullopt;
    }
    while (at < value.size() && isBlank(value[at]))
        ++at;
    if (at != value.size())
        return std::nullopt;
    return range;
}

ReplyStart replyStart(int status, qint64 downloaded, const std::optional<ContentRange>& range) {
    if (!acceptedStatus(status))
        return ReplyStart::BadStatus;
    if (status == kStatusPartial) {
        // Bytes of another offset or of a file of unknown size would make a wrong file.
        if (!range || range->total < 0 || range->first != downloaded)
            return ReplyStart::OtherPart;
        return ReplyStart::Append;
    }
    // A whole file (status 200, or no HTTP) replaces what the resume kept.
    return downloaded > 0 ? ReplyStart::Restart : ReplyStart::Append;
}

}  // namespace update
