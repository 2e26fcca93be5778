#include "update/file_downloader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "update/package.h"
#include "update/update_environment.h"

// commonFileDownloader

commonFileDownloader::commonFileDownloader(QThread* thread, const QString& url,
                                           const QString& outputDir, QObject* parent)
    : RangedDownloader(thread, "commonfiledownloader.cpp", parent), outputDir_(outputDir) {
    connect(thread, &QThread::started, this, &commonFileDownloader::start);
    // Kept as "<name>.part" until whole, so that a file under its own name is always complete.
    if (download_.setOutput(url, outputDir, QStringLiteral("file-"), QStringLiteral(".part")))
        download_.resumeFromDisk();
}

QString commonFileDownloader::outputPath() const {
    return download_.outputPath();
}

void commonFileDownloader::start() {
    if (!download_.usable()) {
        download_.log(__LINE__, QStringLiteral("Update Error: no output folder '%1' below the "
                                               "application folder")
                                    .arg(outputDir_));
        emit downLoadFailed();
        return;
    }
    sendRequest();
}

void commonFileDownloader::completed() {
    emit downLoadFinished();
}

void commonFileDownloader::wasComplete() {}

void commonFileDownloader::refused() {
    download_.removeOutput();
    emit downLoadFailed();
}

// PsUpdateDownloader

PsUpdateDownloader::PsUpdateDownloader(QThread* thread, const QString& url,
                                       const QString& packageKind)
    : RangedDownloader(thread, "pspecific_wnd.cpp"), packageKind_(packageKind) {
    connect(thread, &QThread::started, this, &PsUpdateDownloader::start);
    const update::Environment environment = update::environment();
    // Without a publisher's key only the transport vouches for a package: nothing unsigned is
    // taken from where anyone on the way could have changed it, the answer naming it included.
    const bool urlTrusted = update::isTrustedTransport(url);
    if (environment.publicKey.isEmpty() &&
        !(urlTrusted && update::isTrustedTransport(environment.updateServer))) {
        refusal_ = QStringLiteral("Update Error: unsigned %1 package refused: '%2' is not https")
                       .arg(packageKind, urlTrusted ? environment.updateServer : url);
        return;
    }
    const QString updates = QStringLiteral("tupdates/");
    if (!download_.setOutput(url, updates + packageKind + QLatin1Char('/'),
                             QStringLiteral("tupdate-")))
        return;
    // Only this download's file may stay in the update folders.
    const QStringList kept = {QFileInfo(download_.outputPath()).absoluteFilePath(),
                              QFileInfo(download_.validatorPath()).absoluteFilePath()};
    for (const QString& folder : {update::environment().appFolder + updates, download_.folder()}) {
        const QFileInfoList files =
            QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QFileInfo& file : files) {
            if (!kept.contains(file.absoluteFilePath()))
                QFile::remove(file.absoluteFilePath());
        }
    }
    download_.setSizeLimit(update::packageSizeLimit(packageKind));
    download_.resumeFromDisk();
}

void PsUpdateDownloader::start() {
    if (!refusal_.isEmpty()) {
        download_.log(__LINE__, refusal_);
        emit downLoadFailed();
        emit packageRefused(refusal_);
        return;
    }
    if (!download_.usable()) {
        download_.log(__LINE__, QStringLiteral("Update Error: no update folder for the package "
                                               "kind '%1'")
                                    .arg(packageKind_));
        emit downLoadFailed();
        return;
    }
    sendRequest();
}

void PsUpdateDownloader::completed() {
    emit downLoadFinished();
    unpack();
}

void PsUpdateDownloader::wasComplete() {
    unpack();
}

// The dialog is told of every failure, not only of network errors, so it never waits on.
void PsUpdateDownloader::refused() {
    update::clearUpdateFolder(update::environment(), packageKind_);
    emit downLoadFailed();
}

void PsUpdateDownloader::unpack() {
    update::PackageCheck refusal;
    const std::optional<QString> version = update::unpackPackage(
        update::environment(), packageKind_, download_.outputPath(), &refusal);
    if (version) {
        emit unpressFinished(*version);
        return;
    }
    emit downLoadFailed();
    if (refusal.verdict == update::Verdict::Untrusted)
        emit packageRefused(refusal.error);
    else if (refusal.verdict == update::Verdict::Older)
        emit packageOutdated(refusal.error);
}
