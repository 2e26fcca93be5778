#pragma once

// The two downloads of the system: a page's downloadFile, and an update package that is
// unpacked once it is whole.

#include <QString>

#include "update/ranged_download.h"

class QThread;

// Into a folder below the application folder (the page's downloadFile command).
class commonFileDownloader : public RangedDownloader {
    Q_OBJECT
  public:
    // `outputDir`: below the application folder, ending in "/".
    commonFileDownloader(QThread* thread, const QString& url, const QString& outputDir,
                         QObject* parent = nullptr);

    QString outputPath() const;

  public slots:
    void start();

  private:
    void completed() override;
    void wasComplete() override;
    void refused() override;

    QString outputDir_;
};

// One update package of a kind ("client", "html", "firmware") into tupdates/<kind>/, unpacked
// when complete.
class PsUpdateDownloader : public RangedDownloader {
    Q_OBJECT
  public:
    PsUpdateDownloader(QThread* thread, const QString& url, const QString& packageKind);

  signals:
    void unpressFinished(QString version);
    // Refused before anything was fetched or changed, or refused once whole as not the
    // publisher's or not of this kind; `why` says so as the log does.
    void packageRefused(const QString& why);
    // Refused once whole: older than what is installed.
    void packageOutdated(const QString& why);

  public slots:
    void start();

  private:
    void completed() override;
    void wasComplete() override;
    void refused() override;
    void unpack();

    QString packageKind_;
    QString refusal_;
};
