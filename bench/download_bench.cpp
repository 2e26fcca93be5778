// A large download from nginx on 127.0.0.1 by commonFileDownloader, beside curl fetching the
// same file from the same server in the same run.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdio>

#include "tests/update/http_fixtures.h"
#include "update/file_downloader.h"
#include "update/update_environment.h"

namespace {

constexpr qint64 kFileSize = 200LL * 1024 * 1024;

NginxServer* server = nullptr;
QString appFolder;
double curlSeconds = 0;
double downloaderSeconds = 0;

// Written in pieces: the whole file never sits in memory.
bool writeLargeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray piece = randomBytes(1024 * 1024);
    for (qint64 written = 0; written < kFileSize; written += piece.size()) {
        if (file.write(piece) != piece.size())
            return false;
    }
    return true;
}

void BM_Curl(benchmark::State& state) {
    const QString target = appFolder + QStringLiteral("curl.bin");
    for (auto _ : state) {
        QFile::remove(target);
        QElapsedTimer timer;
        timer.start();
        const int code = QProcess::execute(
            QStringLiteral("curl"),
            {QStringLiteral("-s"), QStringLiteral("-o"), target, server->url("/large.bin")});
        curlSeconds = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(curlSeconds);
        if (code != 0 || QFile(target).size() != kFileSize)
            state.SkipWithError("curl failed");
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
    QFile::remove(target);
}
BENCHMARK(BM_Curl)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CommonFileDownloader(benchmark::State& state) {
    const QString target = appFolder + QStringLiteral("dl/large.bin");
    for (auto _ : state) {
        QFile::remove(target);
        auto* thread = new QThread;
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        auto* downloader =
            new commonFileDownloader(thread, server->url("/large.bin"), QStringLiteral("dl/"));
        bool finished = false;
        bool failed = false;
        QObject context;
        QObject::connect(downloader, &commonFileDownloader::downLoadFinished, &context,
                         [&] { finished = true; });
        QObject::connect(downloader, &commonFileDownloader::downLoadFailed, &context,
                         [&] { failed = true; });
        QElapsedTimer timer;
        timer.start();
        thread->start();
        waitUntil([&] { return finished || failed; }, 600000);
        downloaderSeconds = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(downloaderSeconds);
        downloader->deleteLater();
        thread->quit();
        thread->wait();
        if (!finished || QFile(target).size() != kFileSize)
            state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
    QFile::remove(target);
}
BENCHMARK(BM_CommonFileDownloader)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir work;
    appFolder = work.path() + QStringLiteral("/app/");
    QDir().mkpath(appFolder);
    update::Environment environment;
    environment.appFolder = appFolder;
    update::setEnvironment(environment);

    NginxServer nginx;
    QDir().mkpath(nginx.root());
    if (!writeLargeFile(nginx.root() + QStringLiteral("/large.bin"))) {
        std::fprintf(stderr, "cannot write the test file\n");
        return 1;
    }
    const QString error = nginx.start();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "nginx: %s\n", qPrintable(error));
        return 1;
    }
    server = &nginx;
    benchmark::RunSpecifiedBenchmarks();
    nginx.stop();
    if (curlSeconds > 0 && downloaderSeconds > 0) {
        const double mb = kFileSize / 1e6;
        std::printf(
            "curl %.0f MB/s, commonFileDownloader %.0f MB/s: %.2f of curl's throughput "
            "(goal 0.9)\n",
            mb / curlSeconds, mb / downloaderSeconds, curlSeconds / downloaderSeconds);
    }
    return 0;
}
