#include "app/system_tray.h"

#include <QIcon>
#include <QMenu>

SystemTray::SystemTray(QObject* parent) : QSystemTrayIcon(parent), menu_(new QMenu) {
    setIcon(QIcon(QStringLiteral(":/image/tray")));
    QAction* open = menu_->addAction(QStringLiteral("打开客户端"));
    menu_->addSeparator();
    QAction* exit = menu_->addAction(QStringLiteral("退出"));
    connect(open, &QAction::triggered, this, &SystemTray::doshowWidget);
    connect(exit, &QAction::triggered, this, &SystemTray::docloseApp);
    setContextMenu(menu_);
}

SystemTray::~SystemTray() {
    delete menu_;
}

void SystemTray::doshowWidget() {
    emit showWidget();
}

void SystemTray::docloseApp() {
    emit closeApp();
}
