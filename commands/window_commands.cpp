// The navigation, window and file commands.

#include "commands/command_dispatcher.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

#include "app/application.h"
#include "app/window.h"
#include "commands/command_arguments.h"
#include "update/file_downloader.h"
#include "update/wrap_file_download.h"
#include "webhost/client_handler.h"
#include "webhost/page_geometry.h"
#include "webhost/qcef_web_view.h"

using commands::answer;
using commands::answerQuery;
using commands::has;
using commands::number;
using commands::text;

namespace {

QString documentsFolder() {
    return QDir::homePath() + QStringLiteral("/Documents");
}

}  // namespace

void CommandDispatcher::loadurl(const QVariantMap& query, const engine::QueryCallbackPtr&) {
    if (!has(query, "url"))
        return;
    const QString url = webhost::applicationPageUrl(Application::appFolder(), text(query, "url"));
    ClientHandler* handler = ClientHandler::instance();
    if (const engine::BrowserPtr browser = handler ? handler->mainBrowser() : nullptr) {
        browser->loadUrl(url);
    }
}

void CommandDispatcher::goback(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    window_.mainView()->back();
    callback->Success(QStringLiteral("goback"));
}

void CommandDispatcher::goforward(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    window_.mainView()->forward();
    callback->Success(QStringLiteral("goforward"));
}

void CommandDispatcher::closeX(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    if (Application* app = Application::appInstance()) {
        app->loadConf();
        const QMap<QString, QString> info = app->clientInfo();
        if (info.contains(QStringLiteral("closeFunc"))) {
            if (info.value(QStringLiteral("closeFunc")) == QLatin1String("closeapp")) {
                window_.oncloseApp();
            } else {
                window_.quitApp();
            }
        }
    }
    callback->Success(QStringLiteral("modify conf sucess"));
}

void CommandDispatcher::closeApp(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    window_.oncloseApp();
    callback->Success(QStringLiteral("modify conf sucess"));
}

void CommandDispatcher::saveFileDialog(const QVariantMap&,
                                       const engine::QueryCallbackPtr& callback) {
    const QString path = QFileDialog::getSaveFileName(
        &window_, QStringLiteral("保存为"), documentsFolder(), QStringLiteral("pfd文件(*.pfd)"));
    answerQuery(callback, !path.isEmpty(), path, QStringLiteral("doesn't select file"));
}

void CommandDispatcher::openFileDialog(const QVariantMap&,
                                       const engine::QueryCallbackPtr& callback) {
    const QString path = QFileDialog::getOpenFileName(&window_, QStringLiteral("打开"),
                                                      documentsFolder(), QStringLiteral("*"));
    answerQuery(callback, !path.isEmpty(), path, QStringLiteral("doesn't select file"));
}

void CommandDispatcher::openFileDialogEx(const QVariantMap&,
                                         const engine::QueryCallbackPtr& callback) {
    const QString path = QFileDialog::getOpenFileName(&window_, QStringLiteral("打开"));
    if (!path.isEmpty())
        callback->Success(path);
}

void CommandDispatcher::openUrl(const QVariantMap& query,
                                const engine::QueryCallbackPtr& callback) {
    if (!has(query, "url"))
        return;
    QDesktopServices::openUrl(QUrl(text(query, "url")));
    callback->Success(QStringLiteral("open successed"));
}

void CommandDispatcher::downloadFile(const QVariantMap& query,
                                     const engine::QueryCallbackPtr& callback) {
    if (!has(query, "downloadUrl") || !has(query, "relativePath"))
        return;
    const QString url = text(query, "downloadUrl");
    const QString relativePath = text(query, "relativePath");
    const QString fileName = update::downloadFileName(url);
    if (fileName.isEmpty()) {
        callback->Failure(0, QStringLiteral("url file is not captured"));
        return;
    }
    // Only files from the network: a file:// URL would copy any local file where pages read.
    const QString scheme = QUrl(url).scheme().toLower();
    const bool web = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    if (!web || !update::staysInside(relativePath)) {
        callback->Failure(0, QStringLiteral("downloadFaild"));
        return;
    }
    const QString target = Application::appFolder() + relativePath + fileName;
    if (QFileInfo(target).isFile()) {
        callback->Success(target);
        return;
    }
    auto* download = new wrapFileDownload;
    window_.addDownload(download);
    download->setCallback(callback);
    download->start(url, relativePath);
}

void CommandDispatcher::openView(const QVariantMap& query, const engine::QueryCallbackPtr&) {
    if (!has(query, "relativeUrl") || !has(query, "size"))
        return;
    const QString relativeUrl = text(query, "relativeUrl");
    QString url = relativeUrl;
    if (!text(query, "urlType").contains(QLatin1String("http")))
        url = webhost::applicationPageUrl(Application::appFolder(), relativeUrl);
    const std::optional<QSize> size = webhost::parseWindowSize(text(query, "size"));
    if (!size)
        return;
    window_.openPopup(url, *size, relativeUrl);
}

void CommandDispatcher::closeView(const QVariantMap&, const engine::QueryCallbackPtr&) {
    window_.closeCurrentPopup();
}

void CommandDispatcher::sendMsgToMainBrowser(const QVariantMap& query,
                                             const engine::QueryCallbackPtr& callback) {
    if (!has(query, "url") || !has(query, "msg"))
        return;
    if (ClientHandler* handler = ClientHandler::instance()) {
        handler->sendBrowserMessage(text(query, "url"), text(query, "msg"));
    }
    callback->Success(QStringLiteral("sendMsgToMainBrowser success"));
}

void CommandDispatcher::setIME(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    Application* app = Application::appInstance();
    if (app && app->services().keyboardLayout)
        app->services().keyboardLayout->activateUsEnglish();
    callback->Success(QStringLiteral("setIME success!"));
}
