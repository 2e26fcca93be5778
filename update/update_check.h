#pragma once

// update/: the update system: the check (this file), ranged downloads, packages, the update
// dialog, firmware and client installation. What it needs of the running program comes in
// through update::Environment. May use webhost/, device/, platform/, storage/ and base/.

// Asks the update service whether newer client, page or firmware packages exist, and offers
// them in the update dialog.

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class HttpRequestWorker;
class QWidget;
class updateDlg;

// The update service's answer as the check acts on it.
struct UpdateAnswer {
    enum class Kind {
        Ignored,  // not a JSON object, no "code", or a code the check does not act on
        Offer,    // "code" 0 with a "ret" member: an update is announced
        Current,  // "code" 1: the installed versions are current
    };
    Kind kind = Kind::Ignored;
    // With Offer: "ret" (empty when it is no object), its "deployment" split at ",", and
    // whether the dialog opens ("type" is "0" and "deployment" is not empty).
    QJsonObject ret;
    QStringList deployment;
    bool opensDialog = false;
};

UpdateAnswer readUpdateAnswer(const QByteArray& body);

class UpdateCheck : public QObject {
    Q_OBJECT
  public:
    // `serviceHost`: scheme, host and port of the update service (conf.xml's updateServer),
    // e.g. "http://127.0.0.1:8099"; empty skips every check. `mainWindow`: what the dialog is
    // centred on.
    UpdateCheck(const QString& serviceHost, QWidget* mainWindow, QObject* parent = nullptr);
    ~UpdateCheck() override;

    void doCheckUpdate(const QString& deviceId, const QString& fwVersion,
                       const QString& clientVersion, bool showLatest);

  signals:
    void cantFindNewVersion();
    void FindNewVersion();
    void closeApp();
    // From the update dialog: a client update is staged.
    void clientVersionStaged(const QString& version);

  public slots:
    void handle_doCheckUpdate(HttpRequestWorker* worker);
    void on_needupdate();

  private:
    // Replaces the earlier dialog with a new one centred on the main window.
    updateDlg* newDialog();

    HttpRequestWorker* worker_ = nullptr;
    updateDlg* dialog_ = nullptr;
    bool showLatestResult = false;
    QString serviceHost_;
    QPointer<QWidget> mainWindow_;
};
