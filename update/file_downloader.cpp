#include "update/file_downloader.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>

#include <cstdlib>
#include <limits>

#include "update/package.h"
#include "update/update_environment.h"
#include "webhost/engine/engine_log.h"

namespace {

constexpr qint64 kResumeGranule = 102400;
constexpr int kCopyBuffer = 256 * 1024;

constexpr int kStatusOk = 200;
constexpr int kStatusPartial = 206;
constexpr int kStatusRangeNotSatisfiable = 416;

// "..", "...", ". ." and the like: Windows drops trailing dots and spaces, so any of them may
// name a parent folder there.
bool onlyDotsAndSpaces(const QString& part) {
    for (const QChar c : part) {
        if (c != QLatin1Char('.') && c != QLatin1Char(' '))
            return false;
    }
    return !part.isEmpty();
}

// The reply's HTTP status, or 0 when it has none.
int httpStatus(QNetworkReply* reply) {
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

bool acceptedStatus(int status) {
    return status == 0 || status == kStatusOk || status == kStatusPartial ||
           status == kStatusRangeNotSatisfiable;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The decimal digits at `at`, moving past them; false when there are none or they exceed the
// largest qint64.
bool readNumber(const QByteArray& text, int& at, qint64& value) {
    const int begin = at;
    value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const int digit = text[at] - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return at > begin;
}

bool readChar(const QByteArray& text, int& at, char c) {
    if (at >= text.size() || text[at] != c)
        return false;
    ++at;
    return true;
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

QString downloadFileName(const QString& url) {
    const QRegularExpression pattern(QStringLiteral("/([^/\\?]+)(\\?|$)"));
    const QString name = pattern.match(url).captured(1);
    if (name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')) ||
        onlyDotsAndSpaces(name)) {
        return QString();
    }
    return name;
}

bool staysInside(const QString& relativeFolder) {
    if (relativeFolder.startsWith(QLatin1Char('/')) ||
        relativeFolder.startsWith(QLatin1Char('\\')) || relativeFolder.contains(QLatin1Char(':')))
        return false;
    const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    for (const QString& part : relativeFolder.split(separators)) {
        if (part != QLatin1String(".") && onlyDotsAndSpaces(part))
            return false;
    }
    return true;
}

std::optional<ContentRange> parseContentRange(const QByteArray& value) {
    int at = 0;
    while (at < value.size() && isBlank(value[at]))
        ++at;
    const QByteArray unit("bytes");
    if (value.mid(at, unit.size()).toLower() != unit)
        return std::nullopt;
    at += unit.size();
    if (at >= value.size() || !isBlank(value[at]))
        return std::nullopt;
    while (at < value.size() && isBlank(value[at]))
        ++at;
    ContentRange range;
    if (readChar(value, at, '*')) {
        if (!readChar(value, at, '/') || !readNumber(value, at, range.total))
            return std::nullopt;
    } else {
        if (!readNumber(value, at, range.first) || !readChar(value, at, '-') ||
            !readNumber(value, at, range.last) || !readChar(value, at, '/'))
            return std::nullopt;
        if (!readChar(value, at, '*') && !readNumber(value, at, range.total))
            return std::nullopt;
        if (range.first > range.last || (range.total >= 0 && range.last >= range.total))
            return std::nullopt;
    }
    while (at < value.size() && isBlank(value[at]))
        ++at;
    if (at != value.size())
        return std::nullopt;
    return range;
}

ReplyStart replyStart(int status, qint64 downloaded, const std::optional<ContentRange>& range) {
    if (!acceptedStatus(status))
        return ReplyStart::BadStatus;
    if (status == kStatusPartial) {
        // Bytes of another offset or of a file of unknown size would make a wrong file.
        if (!range || range->total < 0 || range->first != downloaded)
            return ReplyStart::OtherPart;
        return ReplyStart::Append;
    }
    // A whole file (status 200, or no HTTP) replaces what the resume kept.
    return downloaded > 0 ? ReplyStart::Restart : ReplyStart::Append;
}

RangedDownload::RangedDownload(QObject* owner, Outcomes& outcomes, const char* logSource)
    : owner_(owner), outcomes_(outcomes), logSource_(logSource), manager_(owner), output_(owner) {}

void RangedDownload::log(int line, const QString& text) const {
    if (engine::Log::admits(engine::LogSeverity::Info))
        engine::Log::write(engine::LogSeverity::Info, logSource_, line, text);
}

bool RangedDownload::setOutput(const QString& url, const QString& relativeFolder,
                               const QString& fallbackPrefix, const QString& partSuffix) {
    url_ = url;
    const QString appFolder = environment().appFolder;
    if (appFolder.isEmpty() || !staysInside(relativeFolder))
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
    {
        QMutexLocker locker(&lock_);
        if (downloadedBytes_ == 0 && totalBytes_ == 0)
            totalBytes_ =
                qMax(qint64(0), reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    }
    replyAccepted_ = true;
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

// commonFileDownloader

commonFileDownloader::commonFileDownloader(QThread* thread, const QString& url,
                                           const QString& outputDir, QObject* parent)
    : QObject(parent), outputDir_(outputDir), download_(this, *this, "commonfiledownloader.cpp") {
    moveToThread(thread);
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

void commonFileDownloader::sendRequest() {
    connectReply(download_.sendRequest(), this);
}

void commonFileDownloader::partMetaGot() {
    download_.replyMetaData();
}

void commonFileDownloader::partFinished(qint64 got, qint64 total) {
    download_.replyProgress(got, total);
}

void commonFileDownloader::partFailed(QNetworkReply::NetworkError e) {
    download_.replyError(e);
}

void commonFileDownloader::partReceived(qint64 got, qint64 total) {
    emit finishPart(got, total);
}

void commonFileDownloader::completed() {
    emit downLoadFinished();
}

void commonFileDownloader::wasComplete() {}

void commonFileDownloader::failed() {
    emit downLoadFailed();
}

void commonFileDownloader::refused() {
    download_.removeOutput();
    emit downLoadFailed();
}

// PsUpdateDownloader

PsUpdateDownloader::PsUpdateDownloader(QThread* thread, const QString& url,
                                       const QString& packageKind)
    : packageKind_(packageKind), download_(this, *this, "pspecific_wnd.cpp") {
    moveToThread(thread);
    connect(thread, &QThread::started, this, &PsUpdateDownloader::start);
    const QString updates = QStringLiteral("tupdates/");
    if (!download_.setOutput(url, updates + packageKind + QLatin1Char('/'),
                             QStringLiteral("tupdate-")))
        return;
    // Only this download's file may stay in the update folders.
    const QString output = QFileInfo(download_.outputPath()).absoluteFilePath();
    for (const QString& folder : {update::environment().appFolder + updates, download_.folder()}) {
        const QFileInfoList files =
            QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QFileInfo& file : files) {
            if (file.absoluteFilePath() != output)
                QFile::remove(file.absoluteFilePath());
        }
    }
    download_.resumeFromDisk();
}

void PsUpdateDownloader::start() {
    if (!download_.usable()) {
        download_.log(__LINE__, QStringLiteral("Update Error: no update folder for the package "
                                               "kind '%1'")
                                    .arg(packageKind_));
        emit downLoadFailed();
        return;
    }
    sendRequest();
}

void PsUpdateDownloader::sendRequest() {
    connectReply(download_.sendRequest(), this);
}

void PsUpdateDownloader::partMetaGot() {
    download_.replyMetaData();
}

void PsUpdateDownloader::partFinished(qint64 got, qint64 total) {
    download_.replyProgress(got, total);
}

void PsUpdateDownloader::partFailed(QNetworkReply::NetworkError e) {
    download_.replyError(e);
}

void PsUpdateDownloader::partReceived(qint64 got, qint64 total) {
    emit finishPart(got, total);
}

void PsUpdateDownloader::completed() {
    emit downLoadFinished();
    unpack();
}

void PsUpdateDownloader::wasComplete() {
    unpack();
}

void PsUpdateDownloader::failed() {
    emit downLoadFailed();
}

// The dialog is told of every failure, not only of network errors, so it never waits on.
void PsUpdateDownloader::refused() {
    update::clearUpdateFolder(update::environment());
    emit downLoadFailed();
}

void PsUpdateDownloader::unpack() {
    const std::optional<QString> version =
        update::unpackPackage(update::environment(), packageKind_, download_.outputPath());
    if (version) {
        emit unpressFinished(*version);
    } else {
        emit downLoadFailed();
    }
}
