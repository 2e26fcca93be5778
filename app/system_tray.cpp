#include "app/system_tray.h"

#include <QIcon>
#include <QMenu>

#include "commands/ui_language.h"

using commands::inLanguage;

SystemTray::SystemTray(std::function<QString()> language, QObject* parent)
    : QSystemTrayIcon(parent), language_(std::move(language)), menu_(new QMenu) {
    setIcon(QIcon(QStringLiteral(":/image/tray")));
    open_ = menu_->addAction(QString());
    menu_->addSeparator();
    exit_ = menu_->addAction(QString());
    translate();
    connect(open_, &QAction::triggered, this, &SystemTray::doshowWidget);
    connect(exit_, &QAction::triggered, this, &SystemTray::docloseApp);
    // The pages may have changed the language since the menu last opened.
    connect(menu_, &QMenu::aboutToShow, this, &SystemTray::translate);
    setContextMenu(menu_);
}

SystemTray::~SystemTray() {
    delete menu_;
}

void SystemTray::translate() {
    const QString language = language_();
    open_->setText(inLanguage(language, QStringLiteral("打开客户端"), QStringLiteral("Open")));
    exit_->setText(inLanguage(language, QStringLiteral("退出"), QStringLiteral("Exit")));
    setToolTip(QStringLiteral("Quillmere"));
}

void SystemTray::tellStillRunning() {
    const QString language = language_();
    showMessage(QStringLiteral("Quillmere"),
                inLanguage(language,
                           QStringLiteral("程序仍在托盘中运行。点击托盘图标可重新打开，"
                                          "右键菜单可退出。"),
                           QStringLiteral("Still running in the tray. Click the tray icon to "
                                          "open it again, or exit from its menu.")),
                QSystemTrayIcon::Information, 8000);
}

void SystemTray::doshowWidget() {
    emit showWidget();
}

void SystemTray::docloseApp() {
    emit closeApp();
}
