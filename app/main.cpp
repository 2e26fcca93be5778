// The process's main routine: engine first, then the single-instance decision, then the
// event loop, and shutdown in the reverse order.

#include <QDir>
#include <QLocale>

#include "app/application.h"
#include "base/startup_timeline.h"
#include "commands/profile_store.h"
#include "commands/ui_language.h"
#include "platform/services.h"
#include "update/client_install.h"
#include "webhost/client_app.h"
#include "webhost/client_handler.h"
#include "webhost/engine/engine.h"
#include "webhost/engine/qtwebengine/qt_engine.h"
#include "webhost/local_resource.h"
#include "webhost/resource_reader.h"

namespace {

QStringList argumentList(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    startup::mark("process entered main");
    platform::Services services = platform::systemServices();
    if (services.errorMode)
        services.errorMode->disableFaultDialog();

    // Qt's notion of the executable's folder needs the application object, not there yet.
    const QString appFolder =
        QString::fromStdString(platform::executableFolder()) + QLatin1Char('/');

    ClientApp clientApp;
    engine::QtEngine engine;
    engine::setInstance(&engine);
    const int subprocessCode = engine.executeProcess(argc, argv, &clientApp);
    if (subprocessCode >= 0)
        return subprocessCode;

    engine::Settings settings;
    settings.noSandbox = true;
    settings.multiThreadedMessageLoop = true;
    settings.cachePath = QDir::toNativeSeparators(QDir::tempPath() + QStringLiteral("/Cache"));
    settings.persistSessionCookies = true;
    settings.userAgent = QStringLiteral("Tallowbrook");
    settings.productVersion = QStringLiteral("2.1");
    // The engine's own texts and the pages' first choice follow the language the pages chose
    // last, else the system's.
    ProfileStore profiles(appFolder.chopped(1));
    const bool english = commands::uiLanguage(profiles) == QLatin1String("en");
    QLocale::setDefault(english ? QLocale(QLocale::English, QLocale::UnitedStates)
                                : QLocale(QLocale::Chinese, QLocale::China));
    settings.locale = english ? QStringLiteral("en-US") : QStringLiteral("zh-CN");
    settings.logFile = appFolder + QStringLiteral("app.log");
    settings.backgroundColor = 0xFF222529;
    qDebug().noquote() << "caChe===" + settings.cachePath;
    engine.initialize(settings, &clientApp);
    startup::mark("engine initialised");

    ClientHandler clientHandler(argumentList(argc, argv), appFolder);
    ClientHandler::setInstance(&clientHandler);
    engine.registerSchemeHandlerFactory(QStringLiteral("velmora"), QStringLiteral("settings"),
                                        QSharedPointer<webhost::LocalSchemeHandlerFactory>::create(
                                            webhost::pageFolderOf(appFolder)));

    int exitCode = 0;
    {
        Application app(argc, argv, services, &clientHandler);
        if (!Application::quitRequested()) {
            app.startInstance();
            // A quit asked for during start-up must not leave a process without a window.
            if (!Application::quitRequested())
                exitCode = app.exec();
        }
    }
    engine.shutdown();
    ClientHandler::setInstance(nullptr);
    engine::setInstance(nullptr);
    update::launchUpdater(update::environment());
    return exitCode;
}
