#pragma once

// The package label: 64 bytes in the package's free block (offset 64, after the signature) that
// name the package's kind and version and carry the SHA-256 of every byte from offset 128 on.
// A publisher signs the label alone, so a package is verified as it streams past, and a
// signed package can neither be installed as another kind nor pass for another version.
// Packages made before the label have zeros there.

#include <QByteArray>
#include <QString>

#include <optional>

namespace update {

constexpr int kLabelOffset = 64;
constexpr int kLabelSize = 64;
constexpr int kLabelKindSize = 12;
constexpr int kLabelVersionSize = 16;

struct PackageLabel {
    QString kind;
    QString version;
    QByteArray digest;  // SHA-256 of the bytes from offset 128 on
};

// The 64 label bytes; empty when the kind (ASCII) or the version (UTF-8) does not fit, or the
// digest is no SHA-256.
QByteArray writeLabel(const PackageLabel& label);

// The label in the 64 bytes at `block`; nothing when they hold none (an older package) or
// when they start like a label but do not read as one, which `damaged` then reports.
std::optional<PackageLabel> readLabel(const char* block, bool& damaged);

// True when `candidate` is older than `installed`: both are compared by their runs of digits
// ("V1.02" reads as 1, 2). Versions without digits are never older, nor older than anything.
bool isOlderVersion(const QString& candidate, const QString& installed);

}  // namespace update
