#include "tests/support/program_harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>

#include "app/window.h"
#include "platform/services.h"
#include "webhost/local_resource.h"
#include "webhost/qcef_web_view.h"
#include "webhost/resource_reader.h"

ProgramHarness::ProgramHarness(int& argc, char** argv, const QString& logFile) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    engine::setInstance(&engine_);
    engine::Settings settings;
    settings.logFile = logFile;
    settings.userAgent = QStringLiteral("Tallowbrook");
    engine_.initialize(settings, &clientApp_);
    // The test executable's folder is the application folder, as the program's is.
    const QString appFolder =
        QString::fromStdString(platform::executableFolder()) + QLatin1Char('/');
    handler_ = std::make_unique<ClientHandler>(QStringList(), appFolder);
    ClientHandler::setInstance(handler_.get());
    engine_.registerSchemeHandlerFactory(QStringLiteral("velmora"), QStringLiteral("settings"),
                                         QSharedPointer<webhost::LocalSchemeHandlerFactory>::create(
                                             webhost::pageFolderOf(appFolder)));
    services_ = platform::systemServices();
    app_ = std::make_unique<Application>(argc, argv, services_, handler_.get());
}

ProgramHarness::~ProgramHarness() {
    app_.reset();
    engine_.shutdown();
    ClientHandler::setInstance(nullptr);
    engine::setInstance(nullptr);
}

Window* ProgramHarness::start(const QString& pageSource, const QString& pageName,
                              const QString& confElements) {
    const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    const QString page = folder + QStringLiteral("template/default/") + pageName;
    QDir().mkpath(QFileInfo(page).absolutePath());
    QFile::remove(page);
    QFile::copy(pageSource, page);
    QDir().mkpath(folder + QStringLiteral("Resources"));
    QFile conf(folder + QStringLiteral("Resources/conf.xml"));
    if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return nullptr;
    conf.write(QStringLiteral("<root><client name=\"Quillmere\" "
                              "loadPath=\"velmora://settings/local/resources/%1\"/>%2</root>")
                   .arg(pageName, confElements)
                   .toUtf8());
    conf.close();
    app_->startInstance();
    waitFor([] { return Application::mainWindow() != nullptr; }, 10000);
    return Application::mainWindow();
}

void ProgramHarness::onReport(std::function<void(const QJsonObject&)> handler) {
    Window* window = Application::mainWindow();
    if (!window)
        return;
    QObject::connect(
        window->mainView(), &QCefWebView::jsMessage,
        [handler](const QString& name, const engine::QueryCallbackPtr&) {
            const QJsonObject query = QJsonDocument::fromJson(name.toUtf8()).object();
            if (query.value(QStringLiteral("funcname")).toString() != QLatin1String("testReport")) {
                return;
            }
            const QByteArray results = query.value(QStringLiteral("results")).toString().toUtf8();
            handler(QJsonDocument::fromJson(results).object());
        });
}

bool ProgramHarness::waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void ProgramHarness::pump(int milliseconds) {
    waitFor([] { return false; }, milliseconds);
}
