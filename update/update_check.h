#pragma once

// Asks the update service whether newer client, page or firmware packages exist, and offers
// them in the update dialog.

#include <QObject>
#include <QPointer>
#include <QString>

class HttpRequestWorker;
class QWidget;
class updateDlg;

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
