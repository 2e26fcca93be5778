#pragma once

#include <QSize>
#include <QString>

#include <optional>

class ClientHandler;
class DEVICE_FILTER;
class DeviceFunctions;
class MouseTrackRecorder;
class ProfileStore;
class QCefWebView;
class QWidget;
class wrapFileDownload;

namespace platform {
struct Services;
}

// A question for the user's file dialog: its title, the folder or the proposed file it opens
// at, and its filter ("Profiles (*.pfd)").
struct FileQuestion {
    QString title;
    QString start;
    QString filter;
};

namespace commands {
// Where the file dialogs open: the user's documents, or their home where there is no such
// folder.
QString documentsFolder();
}  // namespace commands

// What the page commands act on, as the program's window provides it. Declared here so that
// the commands need nothing above them; entered on the GUI thread only.
class CommandHost {
  public:
    virtual ~CommandHost() = default;

    // The executable's folder followed by "/".
    virtual QString appFolder() const = 0;
    // The platform services; null where the program runs without them (tests).
    virtual platform::Services* services() = 0;

    virtual DeviceFunctions& deviceFunctions() = 0;
    virtual ProfileStore& profiles() = 0;
    // The key-definition file below Resources that key scripts are built from.
    virtual const QString& keyDefinitionFile() const = 0;
    virtual void setKeyDefinitionFile(const QString& name) = 0;

    // The input filter, once started; null before.
    virtual DEVICE_FILTER* deviceFilter() const = 0;
    virtual MouseTrackRecorder& mouseTracks() = 0;
    virtual void playActions(const QString& actions) = 0;

    // The page bridge (messages to pages, the main browser); null where there is no engine.
    virtual ClientHandler* pageBridge() = 0;
    virtual QCefWebView* mainView() const = 0;
    // The parent of the file dialogs.
    virtual QWidget* dialogParent() = 0;
    // The file the user chose to write or to read; empty when they cancelled.
    virtual QString askFileToSave(const FileQuestion& question) = 0;
    virtual QString askFileToOpen(const FileQuestion& question) = 0;
    virtual void openPopup(const QString& url, const QSize& size, const QString& viewKey) = 0;
    virtual void closeCurrentPopup() = 0;
    // A downloadFile command's download, kept until the host goes.
    virtual void addDownload(wrapFileDownload* download) = 0;

    // conf.xml's "closeFunc" as the file says now; none when it names none.
    virtual std::optional<QString> closeFunction() = 0;
    // Hides the window to the tray.
    virtual void quitApp() = 0;
    // Ends the program.
    virtual void oncloseApp() = 0;
};
