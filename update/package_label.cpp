#include "update/package_label.h"

#include <QRegularExpression>
#include <QVector>

#include <algorithm>
#include <cstring>

namespace update {
namespace {

constexpr char kMagic[] = "VMPL";
constexpr int kMagicSize = 4;
constexpr int kKindOffset = kMagicSize;
constexpr int kVersionOffset = kKindOffset + kLabelKindSize;
constexpr int kDigestOffset = kVersionOffset + kLabelVersionSize;
constexpr int kDigestSize = 32;
static_assert(kDigestOffset + kDigestSize == kLabelSize, "the label fills its block");

// The text before the first zero byte of a zero-padded field; nothing when a byte after that
// zero is not zero, so every label has exactly one way to be written.
std::optional<QByteArray> paddedField(const char* field, int size) {
    const int length = int(qstrnlen(field, uint(size)));
    for (int i = length; i < size; ++i) {
        if (field[i])
            return std::nullopt;
    }
    return QByteArray(field, length);
}

bool isKindText(const QByteArray& kind) {
    if (kind.isEmpty())
        return false;
    for (const char c : kind) {
        if (!(c >= 'a' && c <= 'z'))
            return false;
    }
    return true;
}

QVector<qulonglong> digitRuns(const QString& version) {
    static const QRegularExpression digits(QStringLiteral("[0-9]+"));
    QVector<qulonglong> runs;
    auto match = digits.globalMatch(version);
    while (match.hasNext()) {
        // Leading zeros are dropped so that "1.02" and "1.2" compare alike; runs too long for
        // 64 bits saturate rather than wrap.
        const QString run = match.next().captured();
        bool fits = false;
        const qulonglong value = run.toULongLong(&fits);
        runs.append(fits ? value : ~0ULL);
    }
    return runs;
}

}  // namespace

QByteArray writeLabel(const PackageLabel& label) {
    const QByteArray kind = label.kind.toLatin1();
    const QByteArray version = label.version.toUtf8();
    if (!isKindText(kind) || kind.size() > kLabelKindSize || version.size() > kLabelVersionSize ||
        version.contains('\0') || label.digest.size() != kDigestSize)
        return {};
    QByteArray block(kLabelSize, '\0');
    block.replace(0, kMagicSize, kMagic, kMagicSize);
    block.replace(kKindOffset, kind.size(), kind);
    block.replace(kVersionOffset, version.size(), version);
    block.replace(kDigestOffset, kDigestSize, label.digest);
    return block;
}

std::optional<PackageLabel> readLabel(const char* block, bool& damaged) {
    damaged = false;
    // Older packages may hold anything here: only the mark makes a label.
    if (std::memcmp(block, kMagic, kMagicSize) != 0)
        return std::nullopt;
    const std::optional<QByteArray> kind = paddedField(block + kKindOffset, kLabelKindSize);
    const std::optional<QByteArray> version =
        paddedField(block + kVersionOffset, kLabelVersionSize);
    if (!kind || !version || !isKindText(*kind)) {
        damaged = true;
        return std::nullopt;
    }
    PackageLabel label;
    label.kind = QString::fromLatin1(*kind);
    label.version = QString::fromUtf8(*version);
    label.digest = QByteArray(block + kDigestOffset, kDigestSize);
    return label;
}

bool isOlderVersion(const QString& candidate, const QString& installed) {
    const QVector<qulonglong> older = digitRuns(candidate);
    const QVector<qulonglong> newer = digitRuns(installed);
    if (older.isEmpty() || newer.isEmpty())
        return false;
    // A missing run counts as 0: 1.2 and 1.2.0 are the same version.
    const int runs = std::max(older.size(), newer.size());
    for (int i = 0; i < runs; ++i) {
        const qulonglong a = older.value(i);
        const qulonglong b = newer.value(i);
        if (a != b)
            return a < b;
    }
    return false;
}

}  // namespace update
