#include "update/update_check.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>

#include "base/engine_log.h"
#include "update/http_request_worker.h"
#include "update/update_dlg.h"

namespace {

// The update system's lines carry its own source name.
void logInfo(int line, const QString& text) {
    if (engine::Log::admits(engine::LogSeverity::Info))
        engine::Log::write(engine::LogSeverity::Info, "updatesystem.cpp", line, text);
}

// Qt's reader drops a U+FEFF that begins a string, taking it for a byte order mark, so that
// "\uFEFF0" would read as "0"; written as an escape it is kept. Raw, those bytes belong in
// strings only, or lead the text; after an odd run of backslashes they are a bad escape.
QByteArray withEscapedByteOrderMarks(const QByteArray& body) {
    static const QByteArray mark("\xEF\xBB\xBF");
    QByteArray text = body.startsWith(mark) ? body.mid(mark.size()) : body;
    for (int at = text.indexOf(mark); at >= 0; at = text.indexOf(mark, at + 1)) {
        int backslashes = 0;
        while (at > backslashes && text[at - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            text.replace(at, mark.size(), "\\ufeff");
    }
    return text;
}

}  // namespace

UpdateAnswer readUpdateAnswer(const QByteArray& body) {
    UpdateAnswer answer;
    const QJsonDocument document = QJsonDocument::fromJson(withEscapedByteOrderMarks(body));
    const QJsonObject object = document.object();
    if (!document.isObject() || !object.contains(QLatin1String("code")))
        return answer;
    const int code = object.value(QLatin1String("code")).toInt(-1);
    if (code == 0 && object.contains(QLatin1String("ret"))) {
        answer.kind = UpdateAnswer::Kind::Offer;
        answer.ret = object.value(QLatin1String("ret")).toObject();
        const QString type = answer.ret.value(QLatin1String("type")).toString();
        const QString deployment = answer.ret.value(QLatin1String("deployment")).toString();
        if (!deployment.isEmpty())
            answer.deployment =
                deployment.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
        answer.opensDialog = !deployment.isEmpty() && type == QLatin1String("0");
    } else if (code == 1) {
        answer.kind = UpdateAnswer::Kind::Current;
    }
    return answer;
}

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
    const UpdateAnswer answer = readUpdateAnswer(worker->responseBody);
    if (answer.kind == UpdateAnswer::Kind::Offer) {
        emit FindNewVersion();
        if (answer.opensDialog) {
            updateDlg* dialog = newDialog();
            connect(dialog, &updateDlg::needupdate, this, &UpdateCheck::on_needupdate);
            connect(dialog, &updateDlg::clientVersionStaged, this,
                    &UpdateCheck::clientVersionStaged);
            dialog->setUpdateInfo(answer.ret, answer.deployment);
            dialog->exec();
        }
    } else if (answer.kind == UpdateAnswer::Kind::Current && showLatestResult) {
        updateDlg* dialog = newDialog();
        dialog->showLatestVersionPage();
        dialog->exec();
    }
    logInfo(__LINE__, body);
}

void UpdateCheck::on_needupdate() {
    emit closeApp();
}
