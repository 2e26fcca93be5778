// The main of the HTTP tests: one nginx for the whole run, stopped at the end whatever the
// outcome.

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

#include "base/engine_log.h"
#include "tests/update/http_fixtures.h"

namespace {

NginxServer* server = nullptr;
QString logPath;

// Update service answers, one per path prefix.
const char kLocations[] = R"(
    location = /current/api/system/upgrade { return 200 '{"code":1}'; }
    location = /offer-hidden/api/system/upgrade {
      return 200 '{"code":0,"ret":{"type":"1","deployment":"client","clientPackage":"u"}}';
    }
    location = /offer-empty/api/system/upgrade {
      return 200 '{"code":0,"ret":{"type":"0","deployment":""}}';
    }
    location = /offer-marked/api/system/upgrade {
      return 200 '{"code":0,"ret":{"type":")"
                          "\xEF\xBB\xBF"
                          R"(0","deployment":"client"}}';
    }
    location = /offer/api/system/upgrade {
      return 200 '{"code":0,"ret":{"type":"0","deployment":"html,,firmware"}}';
    }
    location = /odd-code/api/system/upgrade { return 200 '{"code":"0","ret":{"type":"0","deployment":"html"}}'; }
    location = /broken/api/system/upgrade { return 200 'not json'; }
)";

}  // namespace

NginxServer& nginx() {
    return *server;
}

QString engineLogText() {
    return QString::fromUtf8(readAll(logPath));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir logDir;
    logPath = logDir.path() + QStringLiteral("/app.log");
    engine::Log::open(logPath, engine::LogSeverity::Info);

    NginxServer nginxServer;
    const QString error = nginxServer.start(QString::fromUtf8(kLocations));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "nginx: %s\n", qPrintable(error));
        return 1;
    }
    server = &nginxServer;
    const int result = RUN_ALL_TESTS();
    nginxServer.stop();
    engine::Log::close();
    return result;
}
