#include "update/firmware_recovery.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

#include "base/engine_log.h"
#include "device/dc_library.h"
#include "storage/safe_file_writer.h"
#include "update/firmware_updater.h"
#include "update/update_dlg.h"
#include "update/update_environment.h"

namespace update {

QString keptFirmwarePath(const QString& appFolder) {
    return appFolder + QStringLiteral("firmware/update.bin");
}

bool keepFirmwareImage(const QString& appFolder, const QString& imagePath) {
    const QByteArray image = FirmwareUpdater::readImageFile(imagePath);
    if (image.isEmpty())
        return false;
    const QString path = keptFirmwarePath(appFolder);
    if (!QDir().mkpath(QFileInfo(path).path()) || !storage::writeFileSafely(path, image)) {
        ENGINE_LOG_INFO(
            QStringLiteral("Update Error: cannot keep the firmware image in %1").arg(path));
        return false;
    }
    return true;
}

LoaderWatch::Offer LoaderWatch::loaderSeen(bool present, bool imageKept, bool writing) {
    const bool appeared = present && !present_;
    present_ = present;
    if (!appeared || writing)
        return Offer::None;
    return imageKept ? Offer::Rewrite : Offer::NoImage;
}

FirmwareRecovery::FirmwareRecovery(QWidget* mainWindow, QObject* parent)
    : QObject(parent), mainWindow_(mainWindow) {}

FirmwareRecovery::~FirmwareRecovery() {
    delete dialog_;
}

updateDlg* FirmwareRecovery::dialog() const {
    return dialog_;
}

void FirmwareRecovery::checkLoader() {
    const Environment environment = update::environment();
    if (!environment.library)
        return;
    const bool present = environment.library->deviceExist(FirmwareUpdater::bootloaderId);
    const bool kept =
        present &&
        !FirmwareUpdater::readImageFile(keptFirmwarePath(environment.appFolder)).isEmpty();
    const LoaderWatch::Offer offer = watch_.loaderSeen(present, kept, FirmwareUpdater::writing());
    if (offer == LoaderWatch::Offer::None)
        return;
    ENGINE_LOG_INFO(QStringLiteral("Update Info: the mouse is in its loader, %1")
                        .arg(offer == LoaderWatch::Offer::Rewrite
                                 ? QStringLiteral("offering the kept firmware")
                                 : QStringLiteral("no firmware kept")));
    delete dialog_;
    dialog_ = new updateDlg;
    dialog_->setAttribute(Qt::WA_DeleteOnClose);
    if (mainWindow_) {
        const QPoint centre = mainWindow_->pos() + mainWindow_->rect().center();
        dialog_->move(centre - QPoint(dialog_->width() / 2, dialog_->height() / 2));
    }
    if (offer == LoaderWatch::Offer::Rewrite) {
        dialog_->offerFirmwareRewrite();
    } else {
        dialog_->showNoKeptFirmware();
    }
    dialog_->open();
}

}  // namespace update
