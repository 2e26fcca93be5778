#include "update/update_dlg.h"

#include <QHash>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QThread>

#include "base/engine_log.h"
#include "device/device_functions.h"
#include "update/client_install.h"
#include "update/file_downloader.h"
#include "update/firmware_recovery.h"
#include "update/firmware_updater.h"
#include "update/page_install.h"
#include "update/update_environment.h"

namespace {

QPushButton* button(const QString& text, QWidget* parent, const QRect& geometry) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(geometry);
    return b;
}

// The dialog's texts, and the firmware writer's, in English for a user who chose English.
QString say(const QString& chinese) {
    static const QHash<QString, QString> english{
        {QStringLiteral("   发现新版本，是否更新？"),
         QStringLiteral("   A new version is available. Update now?")},
        {QStringLiteral("取消"), QStringLiteral("Cancel")},
        {QStringLiteral("更新"), QStringLiteral("Update")},
        {QStringLiteral("正在下载资源包。。。"), QStringLiteral("Downloading the update...")},
        {QStringLiteral("   当前版本为最新版本"),
         QStringLiteral("   You have the latest version.")},
        {QStringLiteral("确定"), QStringLiteral("OK")},
        {QStringLiteral("   鼠标处于固件升级模式，是否重新写入固件？"),
         QStringLiteral("   The mouse is in firmware update mode. Write its firmware again?")},
        {QStringLiteral("重新写入"), QStringLiteral("Write again")},
        {QStringLiteral("   未找到可用的固件，请连接网络后重新更新"),
         QStringLiteral("   No firmware is available. Connect to the network and update again.")},
        {QStringLiteral("更新包来源未经验证，已拒绝安装"),
         QStringLiteral("The update's source could not be verified; it was not installed.")},
        {QStringLiteral("更新包版本低于当前版本，已拒绝安装"),
         QStringLiteral("The update is older than the installed version; it was not installed.")},
        {QStringLiteral("下载失败请检查网络是否异常"),
         QStringLiteral("The download failed. Please check the network connection.")},
        {QStringLiteral("下载完成，是否重启客户端完成更新"),
         QStringLiteral("Downloaded. Restart the client to finish the update?")},
        {QStringLiteral("立即重启"), QStringLiteral("Restart now")},
        {QStringLiteral("更新完成"), QStringLiteral("Update complete")},
        {QStringLiteral("正在更新固件，请勿插拔鼠标"),
         QStringLiteral("Updating the firmware. Do not unplug the mouse.")},
        {QStringLiteral("未找到鼠标，固件未更新"),
         QStringLiteral("No mouse found; the firmware was not updated.")},
        {QStringLiteral("固件文件无效，固件未更新"),
         QStringLiteral("The firmware file is not valid; the firmware was not updated.")},
        {QStringLiteral("鼠标更新失败。。。"), QStringLiteral("The mouse update failed...")},
        {QStringLiteral("更新失败"), QStringLiteral("Update failed")},
        {QStringLiteral("更新成功"), QStringLiteral("Update succeeded")},
        {QStringLiteral("校验失败，请重新更新"),
         QStringLiteral("Verification failed. Please update again.")},
        {QStringLiteral("校验成功,启动设备。。。"),
         QStringLiteral("Verified, starting the mouse...")},
    };
    const update::Environment environment = update::environment();
    if (!environment.language || environment.language() != QLatin1String("en"))
        return chinese;
    return english.value(chinese, chinese);
}

}  // namespace

updateDlg::updateDlg(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog) {
    setObjectName(QStringLiteral("updateDlg"));
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowIcon(QIcon(QStringLiteral(":/velmora/icon.png")));
    setFixedSize(600, 380);
    background_ = QPixmap(QStringLiteral(":/image/background"));

    btn_closeSetuper = button(QStringLiteral("×"), this, QRect(572, 10, 18, 18));
    btn_closeSetuper->setObjectName(QStringLiteral("btn_closeSetuper"));
    connect(btn_closeSetuper, &QPushButton::clicked, this, &updateDlg::on_btn_closeSetuper_clicked);

    stack = new QStackedWidget(this);
    stack->setGeometry(10, 60, 580, 310);

    pageFirst = new QWidget;
    lb_text = new QLabel(say(QStringLiteral("   发现新版本，是否更新？")), pageFirst);
    lb_text->setGeometry(40, 60, 500, 60);
    cancelButton = button(say(QStringLiteral("取消")), pageFirst, QRect(150, 220, 120, 36));
    uninstallButton = button(say(QStringLiteral("更新")), pageFirst, QRect(310, 220, 120, 36));
    connect(cancelButton, &QPushButton::clicked, this, &updateDlg::on_btn_closeSetuper_clicked);
    connect(uninstallButton, &QPushButton::clicked, this, &updateDlg::on_uninstallButton_clicekd);

    pageThird = new QWidget;
    lb_logo = new QLabel(pageThird);
    lb_logo->setPixmap(QPixmap(QStringLiteral(":/image/logo")).scaledToHeight(64));
    lb_logo->setGeometry(40, 20, 500, 80);
    lb_logo->setAlignment(Qt::AlignCenter);
    lb_install = new QLabel(say(QStringLiteral("正在下载资源包。。。")), pageThird);
    lb_install->setGeometry(40, 120, 500, 40);
    lb_install->setAlignment(Qt::AlignCenter);
    pb_install = new QProgressBar(pageThird);
    pb_install->setGeometry(40, 190, 500, 24);
    pb_install->setRange(0, 100);
    pb_install->setValue(0);

    pageInfo = new QWidget;
    lb_info = new QLabel(say(QStringLiteral("   当前版本为最新版本")), pageInfo);
    lb_info->setGeometry(40, 60, 500, 60);
    pb_ok = button(say(QStringLiteral("确定")), pageInfo, QRect(230, 220, 120, 36));
    connect(pb_ok, &QPushButton::clicked, this, &updateDlg::on_pb_ok_clicked);

    stack->addWidget(pageFirst);
    stack->addWidget(pageThird);
    stack->addWidget(pageInfo);
    stack->setCurrentIndex(0);
}

updateDlg::~updateDlg() {
    for (Download* slot : {&client_, &html_, &firmware_}) {
        if (slot->downloader)
            slot->downloader->deleteLater();
        if (slot->thread)
            slot->thread->quit();
    }
}

void updateDlg::setUpdateInfo(const QJsonObject& ret, const QStringList& deployment) {
    updateInfo_ = ret;
    deployment_ = deployment;
}

void updateDlg::showLatestVersionPage() {
    stack->setCurrentIndex(2);
}

void updateDlg::offerFirmwareRewrite() {
    lb_text->setText(say(QStringLiteral("   鼠标处于固件升级模式，是否重新写入固件？")));
    uninstallButton->setText(say(QStringLiteral("重新写入")));
    uninstallButton->disconnect();
    connect(uninstallButton, &QPushButton::clicked, this, &updateDlg::rewriteFirmware);
    stack->setCurrentIndex(0);
}

void updateDlg::showNoKeptFirmware() {
    lb_info->setText(say(QStringLiteral("   未找到可用的固件，请连接网络后重新更新")));
    stack->setCurrentIndex(2);
}

void updateDlg::on_btn_closeSetuper_clicked() {
    reject();
}

void updateDlg::on_pb_ok_clicked() {
    reject();
}

void updateDlg::updateNow() {
    emit needupdate();
}

void updateDlg::on_uninstallButton_clicekd() {
    stack->setCurrentIndex(1);
    pb_install->setTextVisible(true);
    const QString firmwareUrl = updateInfo_.value(QStringLiteral("firmwarePackage")).toString();
    const QString clientUrl = updateInfo_.value(QStringLiteral("clientPackage")).toString();
    const QString deviceUrl = updateInfo_.value(QStringLiteral("devicePackage")).toString();
    if (deployment_.contains(QStringLiteral("client"))) {
        if (clientUrl.isEmpty()) {
            ENGINE_LOG_INFO(QStringLiteral("can't find clientPackage url"));
        } else {
            startDownload(client_, clientUrl, QStringLiteral("client"),
                          &updateDlg::on_clientPackageDownLoadFinished);
        }
    }
    if (deployment_.contains(QStringLiteral("html"))) {
        if (deviceUrl.isEmpty()) {
            ENGINE_LOG_INFO(QStringLiteral("can't find devicePackage url"));
        } else {
            startDownload(html_, deviceUrl, QStringLiteral("html"),
                          &updateDlg::on_htmlPackageDownLoadFinished);
        }
    }
    if (deployment_.contains(QStringLiteral("firmware"))) {
        if (firmwareUrl.isEmpty()) {
            ENGINE_LOG_INFO(QStringLiteral("can't find firmwarePackage url"));
        } else {
            firmwarePending_ = true;
            startDownload(firmware_, firmwareUrl, QStringLiteral("firmware"),
                          &updateDlg::on_firmPackageDownLoadFinished);
            connect(firmware_.downloader, &PsUpdateDownloader::downLoadFailed, this,
                    [this] { endFirmwareStep(); });
        }
    }
}

void updateDlg::startDownload(Download& slot, const QString& url, const QString& kind,
                              void (updateDlg::*finished)(QString)) {
    auto* thread = new QThread;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    auto* downloader = new PsUpdateDownloader(thread, url, kind);
    connect(downloader, &PsUpdateDownloader::finishPart, this, &updateDlg::on_finishPart);
    connect(downloader, &PsUpdateDownloader::unpressFinished, this, finished);
    connect(downloader, &PsUpdateDownloader::downLoadFailed, this, &updateDlg::on_downLoadFaild);
    connect(downloader, &PsUpdateDownloader::packageRefused, this,
            [this] { lb_install->setText(say(QStringLiteral("更新包来源未经验证，已拒绝安装"))); });
    connect(downloader, &PsUpdateDownloader::packageOutdated, this, [this] {
        lb_install->setText(say(QStringLiteral("更新包版本低于当前版本，已拒绝安装")));
    });
    slot.thread = thread;
    slot.downloader = downloader;
    thread->start(QThread::InheritPriority);
}

void updateDlg::on_finishPart(qint64 part, qint64 total) {
    if (total > 0)
        pb_install->setValue(int(part * 100 / total));
}

void updateDlg::on_downLoadFaild() {
    lb_install->setText(say(QStringLiteral("下载失败请检查网络是否异常")));
}

void updateDlg::on_clientPackageDownLoadFinished(QString version) {
    if (!update::checkReadyUpdate(update::environment()))
        return;
    lb_text->setText(say(QStringLiteral("下载完成，是否重启客户端完成更新")));
    uninstallButton->setText(say(QStringLiteral("立即重启")));
    uninstallButton->disconnect();
    connect(uninstallButton, &QPushButton::clicked, this, &updateDlg::updateNow);
    stack->setCurrentIndex(0);
    update::setClientUpdatePending(true);
    emit clientVersionStaged(version);
}

void updateDlg::on_htmlPackageDownLoadFinished(QString version) {
    lb_install->setText(say(QStringLiteral("更新完成")));
    const bool installed =
        update::installPagePackage(update::environment(), [this](const QString& target) {
            ENGINE_LOG_INFO(QStringLiteral("Error: failed to copy, asking to retry.."));
            return QMessageBox::critical(
                       this, QStringLiteral("Update error!"),
                       QStringLiteral("Failed to update qcef :(\n%1 is not accessible.")
                           .arg(target),
                       QMessageBox::Retry | QMessageBox::Cancel) == QMessageBox::Retry;
        });
    if (installed)
        update::recordPagesVersion(update::environment(), version);
    // The firmware step keeps the dialog, and its warning, until it ends.
    if (firmwarePending_) {
        acceptAfterFirmware_ = true;
        return;
    }
    accept();
}

void updateDlg::endFirmwareStep() {
    firmwarePending_ = false;
    writingFirmware_ = false;
    if (acceptAfterFirmware_)
        accept();
}

void updateDlg::reject() {
    // Closing while blocks are written would hide "do not unplug" while it matters most.
    if (writingFirmware_)
        return;
    QDialog::reject();
}

void updateDlg::on_firmPackageDownLoadFinished(QString) {
    lb_install->setText(say(QStringLiteral("正在更新固件，请勿插拔鼠标")));
    const update::Environment environment = update::environment();
    const QString image =
        environment.appFolder + QStringLiteral("tupdates/firmware/ready/update.bin");
    // Kept before the write: a mouse this write leaves in its loader needs it again.
    update::keepFirmwareImage(environment.appFolder, image);
    if (!environment.library || environment.firstDeviceId.isEmpty()) {
        lb_install->setText(say(QStringLiteral("未找到鼠标，固件未更新")));
        endFirmwareStep();
        return;
    }
    writingFirmware_ = true;
    LibraryLoader loader(*environment.library);
    FirmwareUpdater updater(loader, waitWithEvents,
                            [this](const QString& text) { lb_install->setText(say(text)); });
    updater.updateFirmware(environment.firstDeviceId, image);
    endFirmwareStep();
}

void updateDlg::rewriteFirmware() {
    stack->setCurrentIndex(1);
    lb_install->setText(say(QStringLiteral("正在更新固件，请勿插拔鼠标")));
    const update::Environment environment = update::environment();
    if (!environment.library) {
        lb_install->setText(say(QStringLiteral("未找到鼠标，固件未更新")));
        return;
    }
    writingFirmware_ = true;
    // The write tells no share done: the bar only shows that it runs.
    pb_install->setRange(0, 0);
    LibraryLoader loader(*environment.library);
    FirmwareUpdater updater(loader, waitWithEvents,
                            [this](const QString& text) { lb_install->setText(say(text)); });
    updater.rewriteFirmware(update::keptFirmwarePath(environment.appFolder));
    pb_install->hide();
    writingFirmware_ = false;
}

void updateDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!background_.isNull()) {
        painter.drawPixmap(rect(), background_);
    } else {
        painter.fillRect(rect(), QColor(0x22, 0x25, 0x29));
    }
}

// The background drags the frameless window.
void updateDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        dragOffset_ = event->globalPos() - frameGeometry().topLeft();
    QDialog::mousePressEvent(event);
}

void updateDlg::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton)
        move(event->globalPos() - dragOffset_);
    QDialog::mouseMoveEvent(event);
}
