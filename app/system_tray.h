#pragma once

#include <QSystemTrayIcon>

#include <functional>

class QAction;
class QMenu;
class TrayQuickSwitch;

// The tray icon: open the client, the mouse's DPI stage and saved profiles at a click, and exit.
// The menu speaks the pages' language, asked each time it opens, and reads the mouse only
// when a submenu opens.
class SystemTray : public QSystemTrayIcon {
    Q_OBJECT
  public:
    // `quickSwitch` must outlive the tray.
    SystemTray(std::function<QString()> language, TrayQuickSwitch& quickSwitch,
               QObject* parent = nullptr);
    ~SystemTray() override;

    // Says, in the current language, that the program went on running in the tray.
    void tellStillRunning();

  signals:
    void showWidget();
    void closeApp();
    // After the mouse took the stage.
    void dpiStageChosen(int index);
    void profileChosen(int index);

  public slots:
    void doshowWidget();
    void docloseApp();

  private:
    void translate();
    void fillDpiMenu();
    void fillProfileMenu();
    QString text(const char* chinese, const char* english) const;

    std::function<QString()> language_;
    TrayQuickSwitch& quickSwitch_;
    QMenu* menu_;
    QAction* open_;
    QMenu* dpiMenu_;
    QMenu* profileMenu_;
    QAction* exit_;
};
