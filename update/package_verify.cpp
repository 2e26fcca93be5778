#include "update/package_verify.h"

#include <QCryptographicHash>

#include "base/engine_log.h"
#include "update/package_layout.h"
#include "update/package_signature.h"

namespace update {
namespace {

constexpr qint64 kPieceSize = 1 << 20;

PackageCheck refusal(Verdict verdict, const QString& error) {
    PackageCheck check;
    check.verdict = verdict;
    check.error = error;
    return check;
}

bool isZero(const char* data, int size) {
    for (int i = 0; i < size; ++i) {
        if (data[i])
            return false;
    }
    return true;
}

}  // namespace

PackageCheck verifyPackage(QIODevice& package, const PackageRules& rules) {
    const QString unreadable = QStringLiteral("Update Erro: cant read updates file!");
    const qint64 size = package.size();
    if (size - layout::kStreamOffset <= 0)
        return refusal(Verdict::Damaged,
                       QStringLiteral("Update Error: bad compressed size: %1").arg(size));
    if (!package.seek(0))
        return refusal(Verdict::Damaged, unreadable);
    const QByteArray head = package.read(layout::kStreamOffset);
    if (head.size() != layout::kStreamOffset)
        return refusal(Verdict::Damaged, unreadable);

    QCryptographicHash sha1(QCryptographicHash::Sha1);
    QCryptographicHash sha256(QCryptographicHash::Sha256);
    sha1.addData(head.constData() + layout::kPropertiesOffset,
                 layout::kStreamOffset - layout::kPropertiesOffset);
    sha256.addData(head.constData() + layout::kHashOffset,
                   layout::kStreamOffset - layout::kHashOffset);
    QByteArray piece(int(std::min(kPieceSize, size)), Qt::Uninitialized);
    for (qint64 left = size - layout::kStreamOffset; left > 0;) {
        const qint64 read = package.read(piece.data(), std::min<qint64>(piece.size(), left));
        if (read <= 0)
            return refusal(Verdict::Damaged, unreadable);
        sha1.addData(piece.constData(), int(read));
        sha256.addData(piece.constData(), int(read));
        left -= read;
    }

    if (sha1.result() != head.mid(layout::kHashOffset, layout::kHashSize))
        return refusal(Verdict::Damaged,
                       QStringLiteral("Update Error: bad SHA1 hash of update file!"));
    bool damagedLabel = false;
    const std::optional<PackageLabel> label =
        readLabel(head.constData() + kLabelOffset, damagedLabel);
    if (damagedLabel)
        return refusal(Verdict::Damaged, QStringLiteral("Update Error: bad label in update file!"));
    if (label && label->digest != sha256.result())
        return refusal(Verdict::Damaged,
                       QStringLiteral("Update Error: bad SHA-256 hash of update file!"));
    if (!rules.publicKey.isEmpty()) {
        if (isZero(head.constData() + layout::kSignatureOffset, kSignatureSize))
            return refusal(Verdict::Untrusted,
                           QStringLiteral("Update Error: update file is not signed!"));
        // Only a label binds the kind and the version: a signature over anything else cannot
        // keep an old or a foreign package from passing.
        if (!label)
            return refusal(Verdict::Untrusted,
                           QStringLiteral("Update Error: update file does not name its kind and "
                                          "version!"));
        if (!verify(head.constData() + kLabelOffset, kLabelSize,
                    head.constData() + layout::kSignatureOffset, rules.publicKey))
            return refusal(Verdict::Untrusted,
                           QStringLiteral("Update Error: bad signature of update file!"));
    }
    if (label && !rules.kind.isEmpty() && label->kind != rules.kind)
        return refusal(Verdict::Untrusted,
                       QStringLiteral("Update Error: update file is a %1 package, not %2")
                           .arg(label->kind, rules.kind));
    PackageCheck check = label ? checkVersion(rules.kind, label->version, rules)
                               : PackageCheck{Verdict::Accepted, QString(), {}};
    check.label = label;
    return check;
}

PackageCheck checkVersion(const QString& kind, const QString& version, const PackageRules& rules) {
    if (!isOlderVersion(version, rules.installedVersion))
        return {Verdict::Accepted, QString(), {}};
    if (rules.allowDowngrade) {
        ENGINE_LOG_INFO(QStringLiteral("Update Warning: installing %1 package %2 over the newer "
                                       "%3, as allowDowngrade asks")
                            .arg(kind, version, rules.installedVersion));
        return {Verdict::Accepted, QString(), {}};
    }
    return refusal(Verdict::Older,
                   QStringLiteral("Update Error: %1 package %2 is older than the installed %3")
                       .arg(kind, version, rules.installedVersion));
}

}  // namespace update
