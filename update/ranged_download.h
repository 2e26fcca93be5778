#pragma once

// Downloads one URL into a file on a thread of its own, resuming a file left by an earlier
// attempt in whole 100 KiB granules with an HTTP Range request: the state and steps every
// download shares, and the base of the downloaders that run them.

#include <QFile>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

#include "update/http_range.h"

class QThread;

namespace update {

// The state and the steps both downloaders share. Built on the caller's thread, used on the
// download thread only.
class RangedDownload {
  public:
    // What the downloaders do differently at each outcome.
    class Outcomes {
      public:
        virtual void partReceived(qint64 got, qint64 total) = 0;
        // The file is whole: its size is the total the server gave.
        virtual void completed() = 0;
        // The server says there is nothing left to send, and the file is whole.
        virtual void wasComplete() = 0;
        // The download failed; the file is closed (and removed when it cannot be resumed).
        virtual void failed() = 0;
        // A bad answer or an unwritable file; the file is closed.
        virtual void refused() = 0;

      protected:
        ~Outcomes() = default;
    };

    // `owner` gets the network manager and the output file as children, so that they move to
    // its thread with it. `logSource` names the downloader in the log.
    RangedDownload(QObject* owner, Outcomes& outcomes, const char* logSource);

    // The output file in appFolder + `relativeFolder` (created when missing), named after the
    // URL or `fallbackPrefix` and a number. With `partSuffix` the bytes go to a file of that
    // suffix first, which takes the output file's name once it is whole. False when the folder
    // leaves the application folder; nothing is touched then.
    bool setOutput(const QString& url, const QString& relativeFolder, const QString& fallbackPrefix,
                   const QString& partSuffix = QString());
    // Keeps the whole 100 KiB granules of a file left on disk, or removes it.
    void resumeFromDisk();
    // The validator of the part on disk (ETag or Last-Modified), kept beside it for If-Range.
    QString validatorPath() const;
    // Refuses a download that is or grows larger than `bytes` (0: no limit).
    void setSizeLimit(qint64 bytes) { sizeLimit_ = bytes; }

    QString outputPath() const { return outputPath_; }
    QString folder() const { return folder_; }
    bool usable() const { return usable_; }

    // The request for the rest of the file; the caller connects the reply to its slots.
    QNetworkReply* sendRequest();
    void replyMetaData();
    void replyData();
    void replyProgress(qint64 got, qint64 total);
    void replyError(QNetworkReply::NetworkError e);

    // Closes the output file and deletes it.
    void removeOutput();
    void log(int line, const QString& text) const;

  private:
    void releaseReply();
    void refuse();
    // The checks of a reply's first part; false when the reply was refused.
    bool acceptReply();
    bool exceedsLimit(qint64 bytes);
    QByteArray storedValidator() const;
    void storeValidator();
    // Appends what the reply holds; false when the reply was refused.
    bool writeArrived();
    bool restartFromZero();
    // The whole file under its output name; false when it cannot be moved there.
    bool finishFile();

    QObject* owner_;
    Outcomes& outcomes_;
    const char* logSource_;
    QString url_;
    QString folder_;
    QString outputPath_;
    QString workingPath_;
    bool usable_ = false;
    QNetworkAccessManager manager_;
    QPointer<QNetworkReply> reply_;
    // 64-bit: files of 2 GiB and more resume like any other.
    qint64 downloadedBytes_ = 0;
    qint64 totalBytes_ = 0;
    QFile output_;
    QByteArray buffer_;
    QMutex lock_;
    // Of the reply in flight.
    bool replyAccepted_ = false;
    qint64 sizeLimit_ = 0;
    std::optional<ContentRange> range_;
};

}  // namespace update

// The signals and the slots of a ranged download; a downloader says what each outcome means
// for it. Moved to `thread`, on which it runs from then on.
class RangedDownloader : public QObject, protected update::RangedDownload::Outcomes {
    Q_OBJECT
  public:
    RangedDownloader(QThread* thread, const char* logSource, QObject* parent = nullptr);

  signals:
    void finishPart(qint64 got, qint64 total);
    void downLoadFinished();
    void downLoadFailed();

  public slots:
    void partMetaGot();
    void partFinished(qint64 got, qint64 total);
    void partFailed(QNetworkReply::NetworkError e);
    void sendRequest();

  protected:
    void partReceived(qint64 got, qint64 total) override;
    void failed() override;

    update::RangedDownload download_;
};
