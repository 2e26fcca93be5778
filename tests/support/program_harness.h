#pragma once

#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>

#include "app/application.h"
#include "platform/services.h"
#include "webhost/client_app.h"
#include "webhost/client_handler.h"
#include "webhost/engine/qtwebengine/qt_engine.h"

class Window;

// The program in this process, set up as its main routine sets it up, showing one test page
// from the page folder. Pages report to the test with {"funcname":"testReport", "results":…}.
class ProgramHarness {
  public:
    ProgramHarness(int& argc, char** argv, const QString& logFile);
    ~ProgramHarness();

    // Copies `pageSource` into the page folder as `pageName`, names it as the main page and
    // starts the application; the main window, or null when it did not come up.
    // `confElements` go into conf.xml after the client element.
    Window* start(const QString& pageSource, const QString& pageName,
                  const QString& confElements = QString());

    // Every report of the main page, as the JSON object its "results" text holds.
    void onReport(std::function<void(const QJsonObject&)> handler);

    Application& app() { return *app_; }

    // Runs the event loop until `condition` holds or the time is up.
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs);
    static void pump(int milliseconds);

  private:
    ClientApp clientApp_;
    engine::QtEngine engine_;
    std::unique_ptr<ClientHandler> handler_;
    platform::Services services_;
    std::unique_ptr<Application> app_;
};
