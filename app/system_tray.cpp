#include "app/system_tray.h"

#include <QActionGroup>
#include <QIcon>
#include <QMenu>

#include "app/tray_quick_switch.h"
#include "commands/ui_language.h"

using commands::inLanguage;

SystemTray::SystemTray(std::function<QString()> language, TrayQuickSwitch& quickSwitch,
                       QObject* parent)
    : QSystemTrayIcon(parent),
      language_(std::move(language)),
      quickSwitch_(quickSwitch),
      menu_(new QMenu) {
    setIcon(QIcon(QStringLiteral(":/image/tray")));
    open_ = menu_->addAction(QString());
    menu_->addSeparator();
    dpiMenu_ = menu_->addMenu(QString());
    profileMenu_ = menu_->addMenu(QString());
    connect(dpiMenu_, &QMenu::aboutToShow, this, &SystemTray::fillDpiMenu);
    connect(profileMenu_, &QMenu::aboutToShow, this, &SystemTray::fillProfileMenu);
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

QString SystemTray::text(const char* chinese, const char* english) const {
    return inLanguage(language_(), QString::fromUtf8(chinese), QString::fromUtf8(english));
}

void SystemTray::translate() {
    open_->setText(text("打开客户端", "Open"));
    exit_->setText(text("退出", "Exit"));
    dpiMenu_->setTitle(text("DPI 档位", "DPI stage"));
    profileMenu_->setTitle(text("配置文件", "Profile"));
    setToolTip(QStringLiteral("Quillmere"));
}

void SystemTray::fillDpiMenu() {
    dpiMenu_->clear();
    const TrayQuickSwitch::Stages stages = quickSwitch_.dpiStages();
    if (stages.dpi.isEmpty()) {
        dpiMenu_->addAction(text("未连接鼠标", "No mouse connected"))->setEnabled(false);
        return;
    }
    auto* group = new QActionGroup(dpiMenu_);
    for (int i = 0; i < stages.dpi.size(); ++i) {
        QAction* stage =
            dpiMenu_->addAction(QStringLiteral("%1 · %2 DPI").arg(i + 1).arg(stages.dpi[i]));
        stage->setCheckable(true);
        stage->setChecked(i == stages.current);
        group->addAction(stage);
        connect(stage, &QAction::triggered, this, [this, i] {
            if (quickSwitch_.chooseDpiStage(i))
                emit dpiStageChosen(i);
            else
                showMessage(
                    QStringLiteral("Quillmere"),
                    text("鼠标没有接受新的 DPI 档位。", "The mouse did not take the DPI stage."),
                    QSystemTrayIcon::Warning, 5000);
        });
    }
}

void SystemTray::fillProfileMenu() {
    profileMenu_->clear();
    const QStringList names = quickSwitch_.profileNames();
    if (names.isEmpty()) {
        profileMenu_->addAction(text("没有保存的配置", "No saved profiles"))->setEnabled(false);
        return;
    }
    for (int i = 0; i < names.size(); ++i)
        connect(profileMenu_->addAction(names[i]), &QAction::triggered, this,
                [this, i] { emit profileChosen(i); });
}

void SystemTray::tellStillRunning() {
    showMessage(QStringLiteral("Quillmere"),
                text("程序仍在托盘中运行。点击托盘图标可重新打开，右键菜单可退出。",
                     "Still running in the tray. Click the tray icon to open it again, or exit "
                     "from its menu."),
                QSystemTrayIcon::Information, 8000);
}

void SystemTray::doshowWidget() {
    emit showWidget();
}

void SystemTray::docloseApp() {
    emit closeApp();
}
