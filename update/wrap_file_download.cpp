#include "update/wrap_file_download.h"

#include <QThread>

#include "update/file_downloader.h"
#include "update/update_environment.h"

namespace {

// Long enough for the downloader to drop its connection and close its file.
constexpr unsigned long kStopWaitMs = 10000;

}  // namespace

wrapFileDownload::wrapFileDownload(QObject* parent) : QObject(parent) {}

wrapFileDownload::~wrapFileDownload() {
    callback_.reset();
    stop();
    // The downloader goes with its thread's last events, before the program can end.
    if (thread_)
        thread_->wait(kStopWaitMs);
}

void wrapFileDownload::start(const QString& url, const QString& relativePath) {
    url_ = url;
    relativePath_ = relativePath;
    thread_ = new QThread;
    connect(thread_, &QThread::finished, thread_, &QObject::deleteLater);
    downloader_ = new commonFileDownloader(thread_, url, relativePath);
    connect(downloader_, &commonFileDownloader::downLoadFinished, this,
            &wrapFileDownload::on_downloadfileFinished);
    connect(downloader_, &commonFileDownloader::downLoadFailed, this,
            &wrapFileDownload::on_downloadfileFaild);
    thread_->start(QThread::InheritPriority);
}

void wrapFileDownload::on_downloadfileFinished() {
    if (callback_) {
        callback_->Success(update::environment().appFolder + relativePath_ +
                           update::downloadFileName(url_));
        callback_.reset();
    }
    stop();
}

void wrapFileDownload::on_downloadfileFaild() {
    if (callback_) {
        callback_->Failure(0, QStringLiteral("downloadFaild"));
        callback_.reset();
    }
    stop();
}

void wrapFileDownload::stop() {
    if (downloader_) {
        downloader_->deleteLater();
        downloader_ = nullptr;
    }
    if (thread_)
        thread_->quit();
}
