#pragma once

// Decides whether a package file may be trusted, reading it once in fixed-size pieces: the
// SHA-1 the format has always carried, the label (kind, version, SHA-256) and the publisher's
// signature over it, and the version rule. Nothing is decompressed before this has passed.

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <optional>

#include "update/package_label.h"

namespace update {

struct PackageRules {
    QString kind;              // the kind the package must name; empty: any
    QByteArray publicKey;      // the publisher's key; empty: the transport vouched for it
    QString installedVersion;  // empty: unknown, so any version goes
    bool allowDowngrade = false;
};

enum class Verdict {
    Accepted,
    Damaged,    // not a whole package: cut short, changed, or unreadable
    Untrusted,  // not vouched for by the publisher, or not the kind asked for
    Older,      // older than what is installed
};

struct PackageCheck {
    Verdict verdict = Verdict::Damaged;
    QString error;  // the log line, for every verdict but Accepted
    std::optional<PackageLabel> label;
};

// Reads `package` from its start to its end.
PackageCheck verifyPackage(QIODevice& package, const PackageRules& rules);

// The version rule alone: Accepted or Older (the override is logged).
PackageCheck checkVersion(const QString& kind, const QString& version, const PackageRules& rules);

}  // namespace update
