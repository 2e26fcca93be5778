#pragma once

#include <QSystemTrayIcon>

#include <functional>

class QAction;
class QMenu;

// The tray icon with its two actions: open the client, and exit. The menu speaks the pages'
// language, asked each time it opens.
class SystemTray : public QSystemTrayIcon {
    Q_OBJECT
  public:
    explicit SystemTray(std::function<QString()> language, QObject* parent = nullptr);
    ~SystemTray() override;

    // Says, in the current language, that the program went on running in the tray.
    void tellStillRunning();

  signals:
    void showWidget();
    void closeApp();

  public slots:
    void doshowWidget();
    void docloseApp();

  private:
    void translate();

    std::function<QString()> language_;
    QMenu* menu_;
    QAction* open_;
    QAction* exit_;
};
