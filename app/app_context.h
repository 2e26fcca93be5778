#pragma once

#include <QString>
#include <QSystemTrayIcon>

#include <functional>

class Application;
class ClientHandler;

namespace platform {
struct Services;
}

// What the window and the parts it owns are handed, built once at start-up by the application.
// A window run alone (in a test) gets one of its own with only what it has.
struct AppContext {
    QString appFolder;                       // the executable's folder followed by "/"
    platform::Services* services = nullptr;  // null: no system services
    ClientHandler* pages = nullptr;          // the page bridge; null: no engine
    // The client settings, the device tables and the input devices; null: none.
    Application* application = nullptr;
    // Whether the desktop shows tray icons: without one, the window is never hidden.
    std::function<bool()> trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
};
