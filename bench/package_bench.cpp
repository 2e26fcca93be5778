// Unpacking a large update package against the two steps it cannot avoid, decompressing the
// stream with liblzma and hashing the file with SHA-1, on the same file. The unpack adds the
// parse of the body, the files written and the folder swap; the goal is at least 0.9 of the
// speed of the two steps alone.

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <benchmark/benchmark.h>
#include <lzma.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "platform/linux/shell_operations_linux.h"
#include "update/package.h"

namespace {

constexpr int kFiles = 160;
constexpr int kFileSize = 256 * 1024;  // 40 MiB in all

QString packageSource;  // the package, copied into place before every unpack
QString appFolder;
qint64 bodyBytes = 0;

// Text-like files (words from a small vocabulary) with a share of random bytes, so that the
// stream compresses as pages and programs do rather than as zeros.
update::Package largePackage() {
    static const char* const words[] = {
        "mouse",  "button",   "profile", "macro",  "device",
        "light",  "colour",   "speed",   "report", "<div class=\"row\">",
        "</div>", "function", "return",  "const",  "=",
        ";",      "{",        "}",       "\n"};
    std::mt19937 random(7);
    update::Package package;
    package.version = QStringLiteral("9.9.9");
    for (int i = 0; i < kFiles; ++i) {
        QByteArray data;
        data.reserve(kFileSize);
        while (data.size() < kFileSize) {
            if (random() % 16 == 0) {
                for (int j = 0; j < 64; ++j)
                    data.append(char(random()));
            } else {
                data.append(words[random() % (sizeof words / sizeof *words)]).append(' ');
            }
        }
        data.resize(kFileSize);
        package.files.append({QStringLiteral("pkg/folder%1/file%2.js").arg(i % 8).arg(i), data});
    }
    return package;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void BM_DecodeAndHashOnly(benchmark::State& state) {
    for (auto _ : state) {
        const QByteArray bytes = readAll(packageSource);
        const QByteArray hash = QCryptographicHash::hash(
            QByteArray::fromRawData(bytes.constData() + 148, bytes.size() - 148),
            QCryptographicHash::Sha1);
        lzma_filter filter{LZMA_FILTER_LZMA1, nullptr};
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
        if (hash != bytes.mid(128, 20) ||
            lzma_properties_decode(&filter, nullptr, data + 148, 5) != LZMA_OK) {
            state.SkipWithError("not a package");
            break;
        }
        const qint32 size = qFromLittleEndian<qint32>(data + 153);
        QByteArray body(size, Qt::Uninitialized);
        lzma_stream stream = LZMA_STREAM_INIT;
        const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, filter.options},
                                       {LZMA_VLI_UNKNOWN, nullptr}};
        if (lzma_raw_decoder(&stream, filters) != LZMA_OK) {
            state.SkipWithError("no decoder");
            break;
        }
        stream.next_in = data + 157;
        stream.avail_in = std::size_t(bytes.size() - 157);
        stream.next_out = reinterpret_cast<uint8_t*>(body.data());
        stream.avail_out = std::size_t(size);
        while (stream.avail_out > 0 && lzma_code(&stream, LZMA_RUN) == LZMA_OK) {
        }
        lzma_end(&stream);
        free(filter.options);
        if (stream.total_out != quint64(size)) {
            state.SkipWithError("stream did not decode");
            break;
        }
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(state.iterations() * bodyBytes);
}
BENCHMARK(BM_DecodeAndHashOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Unpack(benchmark::State& state) {
    platform::LinuxShellOperations shell;
    update::Environment environment;
    environment.appFolder = appFolder;
    environment.shell = &shell;
    const QString target = appFolder + "tupdates/html/tupdate.bin";
    for (auto _ : state) {
        state.PauseTiming();
        update::clearUpdateFolder(environment, "html");
        QDir().mkpath(appFolder + "tupdates/html");
        QFile::copy(packageSource, target);
        state.ResumeTiming();
        if (!update::unpackPackage(environment, "html", target)) {
            state.SkipWithError("unpack failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * bodyBytes);
}
BENCHMARK(BM_Unpack)->Unit(benchmark::kMillisecond)->Iterations(5);

// The console table, then the unpack's speed as a share of the baseline's.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double baseline = seconds_["BM_DecodeAndHashOnly/iterations:5"];
        const double unpack = seconds_["BM_Unpack/iterations:5"];
        if (baseline > 0 && unpack > 0)
            std::printf("unpack speed / (lzma + SHA-1) speed = %.3f (goal: at least 0.9)\n",
                        baseline / unpack);
    }

  private:
    std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    appFolder = folder.path() + "/app/";
    packageSource = folder.path() + "/package.bin";
    const update::Package package = largePackage();
    const QByteArray bytes = update::writePackage(package, QByteArray());
    QFile file(packageSource);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return 1;
    file.close();
    bodyBytes = qFromLittleEndian<qint32>(bytes.constData() + 153);
    std::printf("package: %d files, %lld bytes unpacked, %d bytes packed\n", kFiles,
                static_cast<long long>(bodyBytes), int(bytes.size()));

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return 0;
}
