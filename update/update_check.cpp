#include "update/update_check.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>

#include "update/http_request_worker.h"
#include "update/update_dlg.h"
#include "webhost/engine/engine_log.h"

namespace {

// The update system's lines carry its own source name.
void logInfo(int line, const QString& text) {
    if (engine::Log::admits(engine::LogSeverity::Info))
        engine::Log::write(engine::LogSeverity::Info, "updatesystem.cpp", line, text);
}

}  // namespace

UpdateCheck::UpdateCheck(const QString& serviceHost, QWidget* mainWindow, QObject* parent)
    : QObject(parent), serviceHost_(serviceHost), mainWindow_(mainWindow) {
    while (serviceHost_.endsWith(QLatin1Char('/')))
        serviceHost_.chop(1);
}

UpdateCheck::~UpdateCheck() {
    delete dialog_;
    if (worker_)
        worker_->deleteLater();
}

void UpdateCheck::doCheckUpdate(const QString& deviceId, const QString& fwVersion,
                                const QString& clientVersion, bool showLatest) {
    showLatestResult = showLatest;
    if (serviceHost_.isEmpty()) {
        logInfo(__LINE__,
                QStringLiteral("Update Info: no updateServer in conf.xml, update check skipped"));
        return;
    }
    if (worker_)
        worker_->deleteLater();
    worker_ = new HttpRequestWorker(this);
    connect(worker_, &HttpRequestWorker::on_execution_finished, this,
            &UpdateCheck::handle_doCheckUpdate);

    HttpRequestParams params;
    params.url = serviceHost_ + QStringLiteral("/api/system/upgrade");
    params.method = QStringLiteral("GET");
    params.layout = VarLayout::InQuery;
    params.vars.insert(QStringLiteral("deviceid"), deviceId);
    params.vars.insert(QStringLiteral("fwversion"), fwVersion);
    params.vars.insert(QStringLiteral("noencrypt"), QStringLiteral("1"));
    params.vars.insert(QStringLiteral("test"), QStringLiteral("1"));
    params.vars.insert(QStringLiteral("version"), clientVersion);
    worker_->send(params);
}

updateDlg* UpdateCheck::newDialog() {
    delete dialog_;
    dialog_ = new updateDlg;
    if (mainWindow_) {
        const QPoint centre = mainWindow_->pos() + mainWindow_->rect().center();
        dialog_->move(centre - QPoint(dialog_->width() / 2, dialog_->height() / 2));
    }
    return dialog_;
}

void UpdateCheck::handle_doCheckUpdate(HttpRequestWorker* worker) {
    const QString body = QString::fromUtf8(worker->responseBody);
    if (worker->networkError != QNetworkReply::NoError) {
        logInfo(__LINE__, QStringLiteral("Error: %1 %2").arg(worker->errorText, body));
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(worker->responseBody);
    const QJsonObject answer = document.object();
    if (document.isObject() && answer.contains(QLatin1String("code"))) {
        const int code = answer.value(QLatin1String("code")).toInt(-1);
        if (code == 0 && answer.contains(QLatin1String("ret"))) {
            const QJsonObject ret = answer.value(QLatin1String("ret")).toObject();
            emit FindNewVersion();
            const QString type = ret.value(QLatin1String("type")).toString();
            const QString deployment = ret.value(QLatin1String("deployment")).toString();
            if (!deployment.isEmpty() && type == QLatin1String("0")) {
                updateDlg* dialog = newDialog();
                connect(dialog, &updateDlg::needupdate, this, &UpdateCheck::on_needupdate);
                dialog->setUpdateInfo(
                    ret, deployment.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive));
                dialog->exec();
            }
        } else if (code == 1 && showLatestResult) {
            updateDlg* dialog = newDialog();
            dialog->showLatestVersionPage();
            dialog->exec();
        }
    }
    logInfo(__LINE__, body);
}

void UpdateCheck::on_needupdate() {
    emit closeApp();
}
