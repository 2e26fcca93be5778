#pragma once

// A mouse whose firmware write was cut off comes back in its loader and cannot run until an
// image is written into it. The last firmware image that arrived in a checked package is kept
// for that, and the loader's appearance is watched for so that the user can write it again.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;
class updateDlg;

namespace update {

// appFolder + "firmware/update.bin": outside tupdates/, so clearing the update folders keeps it.
QString keptFirmwarePath(const QString& appFolder);

// Keeps the image file at `imagePath` when it is a valid image; an invalid file leaves the
// image kept before. Returns whether it was kept.
bool keepFirmwareImage(const QString& appFolder, const QString& imagePath);

// Decides, each time the loader's presence is looked at, whether the user hears of it: once
// when it shows up, and not while this process writes firmware (it restarts the mouse into
// the loader itself then).
class LoaderWatch {
  public:
    enum class Offer {
        None,
        Rewrite,  // offer to write the kept image again
        NoImage,  // tell the user that no image is kept
    };

    Offer loaderSeen(bool present, bool imageKept, bool writing);

  private:
    bool present_ = false;
};

// Looks for the loader when asked (at start-up and on device changes) and, when it newly
// shows up, opens the update dialog with the offer, or with the news that no image is kept.
// The device library and the application folder come from update::environment().
class FirmwareRecovery : public QObject {
    Q_OBJECT
  public:
    // `mainWindow`: what the dialog is centred on; may be null.
    explicit FirmwareRecovery(QWidget* mainWindow, QObject* parent = nullptr);
    ~FirmwareRecovery() override;

    // The dialog opened last, while it is open.
    updateDlg* dialog() const;

  public slots:
    void checkLoader();

  private:
    LoaderWatch watch_;
    QPointer<QWidget> mainWindow_;
    QPointer<updateDlg> dialog_;
};

}  // namespace update
