// Round trip of a page query through the real engine to the dispatcher and back: median and
// 99th percentile over 1,000 queries, as measured by the page.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tests/support/program_harness.h"

int main(int argc, char** argv) {
    qputenv("QT_LOGGING_RULES", "default.debug=false");
    QTemporaryDir scratch;
    std::vector<double> times;
    {
        ProgramHarness program(argc, argv, scratch.path() + "/app.log");
        if (!program.start(QStringLiteral(VELMORA_SOURCE_DIR "/bench/pages/roundtrip.html"),
                           QStringLiteral("roundtrip.html"))) {
            return 1;
        }
        program.onReport([&times](const QJsonObject& report) {
            for (const QJsonValue& value : report.value("times").toArray()) {
                times.push_back(value.toDouble());
            }
        });
        ProgramHarness::waitFor([&times] { return !times.empty(); }, 120000);
    }
    if (times.empty()) {
        std::fprintf(stderr, "no round trips were measured\n");
        return 1;
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];
    std::printf(
        "page query round trip over %zu queries: median %.3f ms, 99th percentile %.3f ms "
        "(goal: median under 0.5 ms)\n",
        times.size(), median, p99);
    return 0;
}
