#pragma once

// Readable fuzz inputs: a few leading lines that set a case up, then the text under test, so
// that seeds can be written by hand from real examples.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace fuzz {

class Lines {
  public:
    // Zero bytes are text like any other (Qt's plain conversion would end the text there).
    explicit Lines(const QByteArray& input)
        : text_(QString::fromUtf8(input.constData(), input.size())) {}

    // The next line without its "\n"; "" once the input is used up.
    QString take() {
        const int end = text_.indexOf(QLatin1Char('\n'), position_);
        const int stop = end < 0 ? text_.size() : end;
        const QString line = text_.mid(position_, stop - position_);
        position_ = end < 0 ? text_.size() : end + 1;
        return line;
    }

    // Everything not taken yet, line ends included.
    QString rest() {
        const QString remaining = text_.mid(position_);
        position_ = text_.size();
        return remaining;
    }

  private:
    QString text_;
    int position_ = 0;
};

// The fuzz input as text, zero bytes kept.
inline QString text(const uint8_t* data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

// The parts of `text` between lines that hold only "%%".
inline QStringList records(const QString& text) {
    return text.split(QStringLiteral("\n%%\n"));
}

}  // namespace fuzz
