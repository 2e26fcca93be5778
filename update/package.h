#pragma once

// The update package file: a free 128-byte block (the publisher's Ed25519 signature, then the
// label of package_label.h, which the signature covers; packages made before the label have
// zeros there, or a signature over the bytes from offset 128 on), the SHA-1 of the bytes from
// offset 148 on, the LZMA properties and the decompressed size, and a raw LZMA stream (with or
// without an end marker) holding a Qt data stream (version 14) of the version and the named
// files.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

#include "update/lzma_codec.h"
#include "update/package_verify.h"
#include "update/update_environment.h"

namespace update {

struct PackageFile {
    QString name;  // as stored: one leading component, then the path below it
    QByteArray data;
};

struct Package {
    QString version;
    QList<PackageFile> files;
    QString kind = {};  // the label's; empty for a package without one
};

// Larger decompressed bodies are refused before anything is allocated.
constexpr qint32 kLargestBody = 1 << 30;

// The package in `bytes` after every check the unpack makes but those of kind and version
// (size, hashes, label, signature when `publicKey` is not empty, decompression, stream, file
// sizes, names that stay inside their folder); the error text of the first failed check in `error`
// otherwise (the unpack's log texts, e.g. "Update Error: bad SHA1 hash of update file!"; a name
// that is no file path, which the unpack reports as a file it cannot open, is a bad file name
// here).
std::optional<Package> readPackage(const QByteArray& bytes, const QByteArray& publicKey,
                                   QString& error);

// A package file of these files, labelled when the package names its kind; signed with
// `secretKey` when it is not empty. Empty when the files or the label do not fit a package or
// `secretKey` is not a secret key.
QByteArray writePackage(const Package& package, const QByteArray& secretKey,
                        lzma::EndMarker marker = lzma::EndMarker::Omit);

// The package file around a body that is already serialised, as writePackage makes it.
QByteArray packBody(const QByteArray& body, const QByteArray& secretKey,
                    lzma::EndMarker marker = lzma::EndMarker::Omit, const QString& kind = {},
                    const QString& version = {});

// Recomputes the hashes, and the signature when `secretKey` is not empty, of a package whose
// bytes from offset 148 (or its label) have changed. False when `bytes` is too short or the key is
// not one.
bool sealPackage(QByteArray& bytes, const QByteArray& secretKey);

// The largest package file of a kind ("client", "html", "firmware") that is downloaded or read:
// what a real update of that kind needs, with room to grow. 0 for any other kind.
qint64 packageSizeLimit(const QString& kind);

// The largest uncompressed body of a kind, checked before anything is decompressed, so a small
// package cannot make the client inflate a gigabyte. 0 for any other kind.
qint64 packageBodyLimit(const QString& kind);

// Unpacks the package file at `packagePath` into tupdates/<kind>/ready below the application
// folder, as the downloader does when a package is complete: on success the package file is
// deleted and the version is returned; on failure the error is logged, tupdates/<kind>/
// is removed and nothing is returned. A package refused as untrusted, of another kind or
// older than the installed version is also described in `refusal`. Nothing is ever written
// outside tupdates/.
std::optional<QString> unpackPackage(const Environment& environment, const QString& kind,
                                     const QString& packagePath, PackageCheck* refusal = nullptr);

// Removes tupdates/<kind>/ below the application folder with everything in it, and tupdates/
// once it is empty: one kind's failure leaves the others' downloads and staged updates.
void clearUpdateFolder(const Environment& environment, const QString& kind);

}  // namespace update
