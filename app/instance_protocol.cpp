#include "app/instance_protocol.h"

#include <QRegularExpression>

#include <limits>

namespace instance_protocol {

QByteArray showCommand() {
    return QStringLiteral("CMD:show;").toLocal8Bit();
}

QByteArray answer(qint64 processId) {
    return QStringLiteral("RES:%1;").arg(processId).toUtf8();
}

QStringList takeSegments(QByteArray& input) {
    const int end = input.lastIndexOf(';');
    if (end < 0)
        return {};
    QList<QByteArray> pieces = input.left(end).split(';');
    input = input.mid(end + 1);  // what followed the last ";" waits for the next read
    QStringList segments;
    for (const QByteArray& piece : pieces) {
        // Decoded with its length: a zero byte must not end the text and swallow the segments
        // after it.
        segments << QString::fromLocal8Bit(piece.constData(), piece.size());
    }
    return segments;
}

std::optional<QString> commandName(const QString& segment) {
    const QLatin1String prefix("CMD:");
    if (!segment.startsWith(prefix))
        return std::nullopt;
    return segment.mid(prefix.size());
}

std::optional<std::uint32_t> answerProcessId(const QString& received) {
    static const QRegularExpression pattern(QStringLiteral("RES:(\\d+);"));
    const QRegularExpressionMatch match = pattern.match(received);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const qulonglong id = match.capturedRef(1).toULongLong(&ok);
    // A larger number cut down to 32 bits would name some other process.
    if (!ok || id > std::numeric_limits<std::uint32_t>::max())
        return 0u;
    return static_cast<std::uint32_t>(id);
}

}  // namespace instance_protocol
