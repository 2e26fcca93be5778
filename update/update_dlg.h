#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QPixmap>
#include <QPointer>
#include <QStringList>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QThread;
class PsUpdateDownloader;

// The modal dialog that offers an update, downloads the offered packages in parallel and
// installs each when it is unpacked.
class updateDlg : public QDialog {
    Q_OBJECT
  public:
    explicit updateDlg(QWidget* parent = nullptr);
    ~updateDlg() override;

    // The check answer's "ret" object and its deployment list.
    void setUpdateInfo(const QJsonObject& ret, const QStringList& deployment);
    // Shows the page saying the installed version is the latest.
    void showLatestVersionPage();
    // For a mouse found in its loader: offers to write the kept firmware image into it.
    void offerFirmwareRewrite();
    // For a mouse found in its loader when no firmware image is kept: says so.
    void showNoKeptFirmware();
    // From the firmware step's start to its end; the dialog cannot be closed meanwhile.
    bool writingFirmware() const { return writingFirmware_; }

  signals:
    void needupdate();
    // A client update is staged and runs at exit; the application records its version.
    void clientVersionStaged(const QString& version);

  public slots:
    void on_btn_closeSetuper_clicked();
    void on_uninstallButton_clicekd();
    void on_pb_ok_clicked();
    void on_finishPart(qint64 part, qint64 total);
    void on_downLoadFaild();
    void updateNow();
    void on_clientPackageDownLoadFinished(QString version);
    void on_htmlPackageDownLoadFinished(QString version);
    void on_firmPackageDownLoadFinished(QString version);
    // Writes the kept firmware image into the mouse's loader; the dialog stays meanwhile.
    void rewriteFirmware();

  public slots:
    // Refused while firmware is being written.
    void reject() override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    // One package kind's download.
    struct Download {
        QPointer<QThread> thread;
        QPointer<PsUpdateDownloader> downloader;
    };

    void startDownload(Download& slot, const QString& url, const QString& kind,
                       void (updateDlg::*finished)(QString));

    // The firmware step ends when its download fails or its write ends.
    void endFirmwareStep();

    QJsonObject updateInfo_;
    bool firmwarePending_ = false;
    bool writingFirmware_ = false;
    bool acceptAfterFirmware_ = false;
    QStringList deployment_;
    Download client_;
    Download html_;
    Download firmware_;
    QPixmap background_;
    QPoint dragOffset_;

  public:
    // The dialog's parts, named as in its design (tests drive them).
    QPushButton* btn_closeSetuper;
    QStackedWidget* stack;
    QWidget* pageFirst;
    QWidget* pageThird;
    QWidget* pageInfo;
    QLabel* lb_text;
    QPushButton* cancelButton;
    QPushButton* uninstallButton;
    QLabel* lb_logo;
    QLabel* lb_install;
    QProgressBar* pb_install;
    QLabel* lb_info;
    QPushButton* pb_ok;
};
