// Round trip of a page query through the real engine to the dispatcher and back: median and
// 99th percentile over 1,000 queries, as measured by the page.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/application.h"
#include "app/window.h"
#include "webhost/client_app.h"
#include "webhost/client_handler.h"
#include "webhost/engine/qtwebengine/qt_engine.h"
#include "webhost/local_resource.h"
#include "webhost/qcef_web_view.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "default.debug=false");
    QTemporaryDir scratch;
    ClientApp clientApp;
    engine::QtEngine engine;
    engine::setInstance(&engine);
    engine::Settings settings;
    settings.logFile = scratch.path() + "/app.log";
    engine.initialize(settings, &clientApp);
    ClientHandler handler({});
    ClientHandler::setInstance(&handler);
    engine.registerSchemeHandlerFactory(
        "velmora", "settings", QSharedPointer<webhost::LocalSchemeHandlerFactory>::create());
    platform::Services services = platform::systemServices();
    std::vector<double> times;
    {
        Application app(argc, argv, services);
        const QString folder = QCoreApplication::applicationDirPath() + "/";
        QDir().mkpath(folder + "Resources");
        QDir().mkpath(folder + "template/default");
        QFile::remove(folder + "template/default/roundtrip.html");
        QFile::copy(VELMORA_SOURCE_DIR "/bench/pages/roundtrip.html",
                    folder + "template/default/roundtrip.html");
        QFile conf(folder + "Resources/conf.xml");
        conf.open(QIODevice::WriteOnly | QIODevice::Truncate);
        conf.write(
            "<root><client name=\"Quillmere\" "
            "loadPath=\"velmora://settings/local/resources/roundtrip.html\"/></root>");
        conf.close();
        app.startInstance();
        Window* window = Application::mainWindow();
        if (!window)
            return 1;
        QObject::connect(
            window->mainView(), &QCefWebView::jsMessage,
            [&times](const QString& name, const engine::QueryCallbackPtr&) {
                if (!name.contains("benchReport"))
                    return;
                const QJsonArray list =
                    QJsonDocument::fromJson(name.toUtf8()).object().value("times").toArray();
                for (const QJsonValue& value : list)
                    times.push_back(value.toDouble());
                QCoreApplication::quit();
            });
        QElapsedTimer timer;
        timer.start();
        while (times.empty() && timer.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }
    engine.shutdown();
    ClientHandler::setInstance(nullptr);
    engine::setInstance(nullptr);
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
