#pragma once

#include <QSystemTrayIcon>

class QMenu;

// The tray icon with its two actions: open the client, and exit.
class SystemTray : public QSystemTrayIcon {
    Q_OBJECT
  public:
    explicit SystemTray(QObject* parent = nullptr);
    ~SystemTray() override;

  signals:
    void showWidget();
    void closeApp();

  public slots:
    void doshowWidget();
    void docloseApp();

  private:
    QMenu* menu_;
};
