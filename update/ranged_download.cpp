#include "update/ranged_download.h"

#include <QDir>
#include <QMutexLocker>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QThread>

#include <cstdlib>

#include "base/engine_log.h"
#include "storage/path_rule.h"
#include "update/update_environment.h"

namespace {

constexpr qint64 kResumeGranule = 102400;
constexpr int kCopyBuffer = 256 * 1024;
// An entity tag or a date; anything longer is no validator of ours.
constexpr int kMaxValidator = 256;

// The reply's HTTP status, or 0 when it has none.
int httpStatus(QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

template <class Downloader>
void connectReply(QNetworkReply* reply, Downloader* downloader) {
    if (!reply)
        return;
    QObject::connect(reply, &QNetworkReply::downloadProgress, downloader,
                     &Downloader::partFinished);
    QObject::connect(reply, &QNetworkReply::errorOccurred, downloader, &Downloader::partFailed);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, downloader, &Downloader::partMetaGot);
}

}  // namespace

namespace update {

RangedDownload::RangedDownload(QObject* owner, Outcomes& outcomes, const char* logSource)
    : owner_(owner), outcomes_(outcomes), logSource_(logSource), manager_(owner), output_(owner) {}

void RangedDownload::log(int line, const QString& text) const {
    if (engine::Log::admits(engine::LogSeverity::Info))
        engine::Log::write(engine::LogSeverity::Info, logSource_, line, text);
}

bool RangedDownload::setOutput(const QString& url, const QString& relativeFolder,
                               const QString& fallbackPrefix, const QString& partSuffix) {
    url_ = url;
    if (!isWebUrl(url)) {
        log(__LINE__,
            QStringLiteral("Update Error: only http and https downloads are allowed, not '%1'")
                .arg(url.left(256)));
        return false;
    }
    const QString appFolder = environment().appFolder;
    if (storage::pathInside(appFolder, relativeFolder).isEmpty())
        return false;
    QString name = downloadFileName(url);
    if (name.isEmpty())
        name = fallbackPrefix + QString::number(QRandomGenerator::global()->bounded(RAND_MAX));
    folder_ = appFolder + relativeFolder;
    const QDir folder(folder_);
    if (!folder.exists())
        QDir().mkpath(folder.absolutePath());
    outputPath_ = folder_ + name;
    workingPath_ = outputPath_ + partSuffix;
    output_.setFileName(workingPath_);
    usable_ = true;
    return true;
}

void RangedDownload::resumeFromDisk() {
    const QFileInfo existing(workingPath_);
    if (!existing.isFile())
        return;
    const qint64 size = existing.size();
    const qint64 whole = size - size % kResumeGranule;
    qint64 kept = 0;
    if (whole == size) {
        kept = size;
    } else if (whole > 0 && output_.resize(whole)) {
        kept = whole;
    }
    {
        QMutexLocker locker(&lock_);
        downloadedBytes_ = kept;
    }
    if (kept == 0)
        output_.remove();
}

QNetworkReply* RangedDownload::sendRequest() {
    if (!usable_)
        return nullptr;
    qint64 from;
    {
        QMutexLocker locker(&lock_);
        from = downloadedBytes_;
    }
    QNetworkRequest request{QUrl(url_)};
    request.setRawHeader("Range", "bytes=" + QByteArray::number(from) + '-');
    // The part on disk continues only the same file: one that changed since comes whole.
    const QByteArray validator = from > 0 ? storedValidator() : QByteArray();
    if (!validator.isEmpty())
        request.setRawHeader("If-Range", validator);
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    // Ranges count bytes of the file itself, never of a compressed form of it.
    request.setRawHeader("Accept-Encoding", "identity");
    releaseReply();
    replyAccepted_ = false;
    range_.reset();
    reply_ = manager_.get(request);
    // Written as it arrives: progress reports come at most every 100 ms.
    QObject::connect(reply_, &QNetworkReply::readyRead, owner_, [this] { replyData(); });
    return reply_;
}

void RangedDownload::releaseReply() {
    if (!reply_)
        return;
    reply_->disconnect(owner_);
    // Deleting a reply in flight drops its connection.
    reply_->deleteLater();
    reply_ = nullptr;
}

void RangedDownload::replyMetaData() {
    if (!reply_)
        return;
    // A malformed range counts as none: the part it comes with is refused.
    range_.reset();
    for (const QNetworkReply::RawHeaderPair& header : reply_->rawHeaderPairs()) {
        if (QString::fromUtf8(header.first).toLower() != QLatin1String("content-range"))
            continue;
        range_ = parseContentRange(header.second);
        if (range_ && range_->total >= 0) {
            QMutexLocker locker(&lock_);
            totalBytes_ = range_->total;
        }
    }
}

void RangedDownload::refuse() {
    releaseReply();
    output_.close();
    outcomes_.refused();
}

void RangedDownload::removeOutput() {
    output_.close();
    if (output_.exists())
        output_.remove();
    QFile::remove(validatorPath());
}

bool RangedDownload::restartFromZero() {
    output_.close();
    if (!output_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        log(__LINE__, QStringLiteral("Update Error: Could not open output file '%1' for appending")
                          .arg(workingPath_));
        refuse();
        return false;
    }
    QMutexLocker locker(&lock_);
    downloadedBytes_ = 0;
    totalBytes_ = 0;
    return true;
}

bool RangedDownload::acceptReply() {
    const int status = httpStatus(reply_);
    qint64 downloaded;
    {
        QMutexLocker locker(&lock_);
        downloaded = downloadedBytes_;
    }
    switch (replyStart(status, downloaded, range_)) {
        case ReplyStart::BadStatus:
            log(__LINE__,
                QStringLiteral("Update Error:Bad HTTP status received in partFinished():%1")
                    .arg(status));
            refuse();
            return false;
        case ReplyStart::OtherPart:
            log(__LINE__, QStringLiteral("Update Error: part starting from %1 received for a "
                                         "request from %2")
                              .arg(range_ ? range_->first : -1)
                              .arg(downloaded));
            refuse();
            return false;
        case ReplyStart::Restart:
            if (!restartFromZero())
                return false;
            break;
        case ReplyStart::Append:
            break;
    }
    qint64 total;
    {
        QMutexLocker locker(&lock_);
        if (downloadedBytes_ == 0 && totalBytes_ == 0)
            totalBytes_ =
                qMax(qint64(0), reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong());
        total = totalBytes_;
    }
    if (exceedsLimit(total))
        return false;
    storeValidator();
    replyAccepted_ = true;
    return true;
}

QString RangedDownload::validatorPath() const {
    return workingPath_ + QStringLiteral(".validator");
}

QByteArray RangedDownload::storedValidator() const {
    QFile file(validatorPath());
    return file.open(QIODevice::ReadOnly) ? file.read(kMaxValidator).trimmed() : QByteArray();
}

// What identifies this version of the file: a strong entity tag, else its modification time.
void RangedDownload::storeValidator() {
    QByteArray validator = reply_->rawHeader("ETag").trimmed();
    if (validator.isEmpty() || validator.startsWith("W/"))
        validator = reply_->rawHeader("Last-Modified").trimmed();
    if (validator.isEmpty() || validator.size() > kMaxValidator || validator.contains('\n')) {
        QFile::remove(validatorPath());
        return;
    }
    QFile file(validatorPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(validator);
}

// Before a byte more is written: what the server announces, and what has arrived.
bool RangedDownload::exceedsLimit(qint64 bytes) {
    if (sizeLimit_ <= 0 || bytes <= sizeLimit_)
        return false;
    log(__LINE__, QStringLiteral("Update Error: download of '%1' exceeds %2 bytes, refused")
                      .arg(url_.left(256))
                      .arg(sizeLimit_));
    removeOutput();
    refuse();
    return true;
}

bool RangedDownload::writeArrived() {
    if (!replyAccepted_ && !acceptReply())
        return false;
    if (!output_.isOpen() && !output_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        log(__LINE__, QStringLiteral("Update Error: Could not open output file '%1' for appending")
                          .arg(workingPath_));
        refuse();
        return false;
    }
    // Through one buffer: no allocation per piece that arrives.
    if (buffer_.isEmpty())
        buffer_.resize(kCopyBuffer);
    for (;;) {
        const qint64 read = reply_->read(buffer_.data(), buffer_.size());
        if (read <= 0)
            return true;
        qint64 downloaded;
        {
            QMutexLocker locker(&lock_);
            downloaded = downloadedBytes_;
        }
        if (exceedsLimit(downloaded + read))
            return false;
        if (output_.write(buffer_.constData(), read) != read) {
            log(__LINE__,
                QStringLiteral("Update Error: Could not write output file '%1'").arg(workingPath_));
            refuse();
            return false;
        }
        QMutexLocker locker(&lock_);
        downloadedBytes_ += read;
    }
}

void RangedDownload::replyData() {
    if (!reply_)
        return;
    if (httpStatus(reply_) == kStatusRangeNotSatisfiable) {
        // The server's error page is never part of the file; replyError decides.
        reply_->readAll();
        return;
    }
    writeArrived();
}

void RangedDownload::replyProgress(qint64 got, qint64 total) {
    if (!reply_)
        return;
    if (httpStatus(reply_) == kStatusRangeNotSatisfiable) {
        reply_->readAll();
        return;
    }
    if (!replyAccepted_ && !acceptReply())
        return;
    log(__LINE__, QStringLiteral("Update Info:part %1 of %2").arg(got).arg(total));
    outcomes_.partReceived(got, total);
    if (!writeArrived())
        return;
    // An unknown length is -1 until the reply ends, when Qt reports got == total.
    if (total < 0 || got < total)
        return;
    releaseReply();
    const bool flushed = output_.flush();
    output_.close();
    qint64 downloaded;
    qint64 expected;
    {
        QMutexLocker locker(&lock_);
        downloaded = downloadedBytes_;
        expected = totalBytes_ > 0 ? totalBytes_ : downloadedBytes_;
    }
    if (!flushed || downloaded != expected) {
        log(__LINE__, QStringLiteral("Update Error: download ended at %1 bytes of %2")
                          .arg(downloaded)
                          .arg(expected));
        refuse();
        return;
    }
    if (finishFile())
        outcomes_.completed();
}

bool RangedDownload::finishFile() {
    // A whole file is never resumed.
    QFile::remove(validatorPath());
    if (workingPath_ == outputPath_)
        return true;
    if (QFileInfo::exists(outputPath_))
        QFile::remove(outputPath_);
    if (output_.rename(outputPath_)) {
        // Later steps (a failure's clean-up) act on the file under its new name.
        workingPath_ = outputPath_;
        return true;
    }
    log(__LINE__,
        QStringLiteral("Update Error: Could not move '%1' to '%2'").arg(workingPath_, outputPath_));
    refuse();
    return false;
}

void RangedDownload::replyError(QNetworkReply::NetworkError e) {
    if (!reply_)
        return;
    if (httpStatus(reply_) == kStatusRangeNotSatisfiable) {
        releaseReply();
        output_.close();
        qint64 downloaded;
        qint64 total;
        {
            QMutexLocker locker(&lock_);
            downloaded = downloadedBytes_;
            total = totalBytes_;
        }
        if (range_ && range_->total >= 0 && downloaded == total) {
            if (finishFile())
                outcomes_.wasComplete();
            return;
        }
        // What is on disk is not the start of the file the server has.
        log(__LINE__,
            QStringLiteral("Update Error: failed to download part starting from %1, error %2")
                .arg(downloaded)
                .arg(e));
        removeOutput();
        {
            QMutexLocker locker(&lock_);
            downloadedBytes_ = 0;
            totalBytes_ = 0;
        }
        outcomes_.failed();
        return;
    }
    // Bytes that came before the failure belong to the file; a bad answer is refused here.
    if (!writeArrived())
        return;
    releaseReply();
    output_.close();
    qint64 downloaded;
    {
        QMutexLocker locker(&lock_);
        downloaded = downloadedBytes_;
    }
    log(__LINE__, QStringLiteral("Update Error: failed to download part starting from %1, error %2")
                      .arg(downloaded)
                      .arg(e));
    outcomes_.failed();
}

}  // namespace update

RangedDownloader::RangedDownloader(QThread* thread, const char* logSource, QObject* parent)
    : QObject(parent), download_(this, *this, logSource) {
    moveToThread(thread);
}

void RangedDownloader::sendRequest() {
    connectReply(download_.sendRequest(), this);
}

void RangedDownloader::partMetaGot() {
    download_.replyMetaData();
}

void RangedDownloader::partFinished(qint64 got, qint64 total) {
    download_.replyProgress(got, total);
}

void RangedDownloader::partFailed(QNetworkReply::NetworkError e) {
    download_.replyError(e);
}

void RangedDownloader::partReceived(qint64 got, qint64 total) {
    emit finishPart(got, total);
}

void RangedDownloader::failed() {
    emit downLoadFailed();
}
