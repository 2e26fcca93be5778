// The instance protocol: the segments a running instance reads from a later one, however the
// bytes arrive, and the answer a later instance reads back.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <limits>
#include <optional>

#include "app/instance_protocol.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/text_input.h"

namespace {

// The running instance's side: the stream cut where `cuts` says, read piece by piece as the
// socket delivers it, gives the segments of the whole stream and keeps what follows the last
// ";".
void checkSegments(const QByteArray& stream, const QByteArray& cuts) {
    QByteArray buffer;
    QStringList segments;
    int position = 0;
    for (int i = 0; position < stream.size(); ++i) {
        const int piece =
            cuts.isEmpty() ? stream.size() : quint8(cuts.at(i % cuts.size())) % 16 + 1;
        buffer += stream.mid(position, piece);
        position += piece;
        const QByteArray before = buffer;
        const QStringList taken = instance_protocol::takeSegments(buffer);
        fuzz::check(!buffer.contains(';'), "what stays buffered holds no complete segment");
        fuzz::check(before.endsWith(buffer), "what stays buffered is what followed the last \";\"");
        segments += taken;
    }
    // Cut at every ";", each segment decoded on its own.
    QList<QByteArray> expected = stream.split(';');
    const QByteArray rest = expected.takeLast();
    fuzz::check(buffer == rest, "the unfinished segment waits for its end");
    fuzz::check(segments.size() == expected.size(),
                "one segment per \";\", however the bytes came");
    for (int i = 0; i < expected.size(); ++i) {
        fuzz::check(
            segments[i] == QString::fromLocal8Bit(expected[i].constData(), expected[i].size()),
            "segments are the stream's text between the \";\"");
        const std::optional<QString> command = instance_protocol::commandName(segments[i]);
        fuzz::check(command.has_value() == segments[i].startsWith(QLatin1String("CMD:")) &&
                        (!command || QStringLiteral("CMD:") + *command == segments[i]),
                    "a command is a segment starting with CMD:, named by the rest");
    }
}

// The reference reading of an answer: the first "RES:" followed by ASCII digits and ";".
std::optional<std::uint32_t> referenceAnswer(const QString& received) {
    for (int at = received.indexOf(QLatin1String("RES:")); at >= 0;
         at = received.indexOf(QLatin1String("RES:"), at + 1)) {
        int end = at + 4;
        quint64 value = 0;
        bool tooLarge = false;
        while (end < received.size() && received[end] >= QLatin1Char('0') &&
               received[end] <= QLatin1Char('9')) {
            value = value * 10 + quint64(received[end].unicode() - '0');
            tooLarge = tooLarge || value > std::numeric_limits<std::uint32_t>::max();
            if (tooLarge)
                value = 0;
            ++end;
        }
        if (end > at + 4 && end < received.size() && received[end] == QLatin1Char(';'))
            return tooLarge ? 0u : std::uint32_t(value);
    }
    return std::nullopt;
}

// The later instance's side: what it takes from the answer text received so far.
void checkAnswer(const QString& received) {
    fuzz::check(instance_protocol::answerProcessId(received) == referenceAnswer(received),
                "an answer names the process its digits give, and no other");
}

}  // namespace

// The input: a first line saying whose side is read, "peer" (the running instance reads the
// rest, cut into pieces sized by the second line's bytes) or "answer" (a later instance reads
// the rest), or a process id whose answer must read back.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzz::bytes(data, size);
    const int firstEnd = input.indexOf('\n');
    const QByteArray mode = input.left(firstEnd < 0 ? input.size() : firstEnd);
    const QByteArray rest = firstEnd < 0 ? QByteArray() : input.mid(firstEnd + 1);
    if (mode == "peer") {
        const int cutsEnd = rest.indexOf('\n');
        checkSegments(cutsEnd < 0 ? QByteArray() : rest.mid(cutsEnd + 1),
                      rest.left(cutsEnd < 0 ? 0 : cutsEnd));
    } else if (mode == "answer") {
        checkAnswer(QString::fromUtf8(rest.constData(), rest.size()));
    } else {
        bool ok = false;
        const std::uint32_t pid = mode.toUInt(&ok);
        if (ok) {
            const QString answer = QString::fromUtf8(instance_protocol::answer(pid));
            fuzz::check(instance_protocol::answerProcessId(answer) == pid,
                        "an answer reads back as the process id it was made with");
            fuzz::check(
                instance_protocol::answerProcessId(answer.left(answer.size() - 1)) == std::nullopt,
                "an answer without its \";\" is not complete");
        }
        checkSegments(input, QByteArray());
        checkAnswer(QString::fromUtf8(input.constData(), input.size()));
    }
    return 0;
}
