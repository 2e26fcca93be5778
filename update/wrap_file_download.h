#pragma once

// Serves one downloadFile command: downloads on a thread of its own and answers the page's
// query when the download ends.

#include <QObject>
#include <QPointer>
#include <QString>

#include "webhost/engine/engine.h"

class QThread;
class commonFileDownloader;

class wrapFileDownload : public QObject {
    Q_OBJECT
  public:
    explicit wrapFileDownload(QObject* parent = nullptr);
    ~wrapFileDownload() override;

    void setCallback(const engine::QueryCallbackPtr& callback) { callback_ = callback; }
    // Downloads `url` into appFolder + `relativePath` (which ends in "/").
    void start(const QString& url, const QString& relativePath);

  public slots:
    void on_downloadfileFinished();
    void on_downloadfileFaild();

  private:
    void stop();

    QString url_;
    QString relativePath_;
    QPointer<QThread> thread_;
    commonFileDownloader* downloader_ = nullptr;
    engine::QueryCallbackPtr callback_;
};
