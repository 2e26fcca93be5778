// The navigation, window and file commands.

#include "commands/command_dispatcher.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

#include "commands/command_arguments.h"
#include "commands/ui_language.h"
#include "platform/services.h"
#include "storage/path_rule.h"
#include "update/http_range.h"
#include "update/wrap_file_download.h"
#include "webhost/client_handler.h"
#include "webhost/page_geometry.h"
#include "webhost/qcef_web_view.h"

using commands::answer;
using commands::answerQuery;
using commands::has;
using commands::number;
using commands::text;

void CommandDispatcher::loadurl(const QVariantMap& query, const engine::QueryCallbackPtr&) {
    if (!has(query, "url"))
        return;
    const QString url = webhost::applicationPageUrl(host_.appFolder(), text(query, "url"));
    ClientHandler* handler = host_.pageBridge();
    if (const engine::BrowserPtr browser = handler ? handler->mainBrowser() : nullptr) {
        browser->loadUrl(url);
    }
}

void CommandDispatcher::goback(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    host_.mainView()->back();
    callback->Success(QStringLiteral("goback"));
}

void CommandDispatcher::goforward(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    host_.mainView()->forward();
    callback->Success(QStringLiteral("goforward"));
}

void CommandDispatcher::closeX(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    if (const std::optional<QString> closeFunction = host_.closeFunction()) {
        if (*closeFunction == QLatin1String("closeapp")) {
            host_.oncloseApp();
        } else {
            host_.quitApp();
        }
    }
    callback->Success(QStringLiteral("modify conf sucess"));
}

void CommandDispatcher::closeApp(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    host_.oncloseApp();
    callback->Success(QStringLiteral("modify conf sucess"));
}

void CommandDispatcher::saveFileDialog(const QVariantMap&,
                                       const engine::QueryCallbackPtr& callback) {
    const QString language = commands::uiLanguage(host_.profiles());
    const QString path = QFileDialog::getSaveFileName(
        host_.dialogParent(),
        commands::inLanguage(language, QStringLiteral("保存为"), QStringLiteral("Save as")),
        commands::documentsFolder(),
        commands::inLanguage(language, QStringLiteral("pfd文件(*.pfd)"),
                             QStringLiteral("Profiles (*.pfd)")));
    answerQuery(callback, !path.isEmpty(), path, QStringLiteral("doesn't select file"));
}

void CommandDispatcher::openFileDialog(const QVariantMap&,
                                       const engine::QueryCallbackPtr& callback) {
    const QString path = QFileDialog::getOpenFileName(
        host_.dialogParent(),
        commands::inLanguage(commands::uiLanguage(host_.profiles()), QStringLiteral("打开"),
                             QStringLiteral("Open")),
        commands::documentsFolder(), QStringLiteral("*"));
    answerQuery(callback, !path.isEmpty(), path, QStringLiteral("doesn't select file"));
}

void CommandDispatcher::openFileDialogEx(const QVariantMap&,
                                         const engine::QueryCallbackPtr& callback) {
    const QString path = QFileDialog::getOpenFileName(
        host_.dialogParent(), commands::inLanguage(commands::uiLanguage(host_.profiles()),
                                                   QStringLiteral("打开"), QStringLiteral("Open")));
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
    const bool web = update::isWebUrl(url);
    const QString folder = storage::pathInside(host_.appFolder(), relativePath);
    if (!web || folder.isEmpty()) {
        callback->Failure(0, QStringLiteral("downloadFaild"));
        return;
    }
    const QString target = folder + fileName;
    if (QFileInfo(target).isFile()) {
        callback->Success(target);
        return;
    }
    auto* download = new wrapFileDownload;
    host_.addDownload(download);
    download->setCallback(callback);
    download->start(url, relativePath);
}

void CommandDispatcher::openView(const QVariantMap& query, const engine::QueryCallbackPtr&) {
    if (!has(query, "relativeUrl") || !has(query, "size"))
        return;
    const QString relativeUrl = text(query, "relativeUrl");
    QString url = relativeUrl;
    if (!text(query, "urlType").contains(QLatin1String("http")))
        url = webhost::applicationPageUrl(host_.appFolder(), relativeUrl);
    const std::optional<QSize> size = webhost::parseWindowSize(text(query, "size"));
    if (!size)
        return;
    host_.openPopup(url, *size, relativeUrl);
}

void CommandDispatcher::closeView(const QVariantMap&, const engine::QueryCallbackPtr&) {
    host_.closeCurrentPopup();
}

void CommandDispatcher::sendMsgToMainBrowser(const QVariantMap& query,
                                             const engine::QueryCallbackPtr& callback) {
    if (!has(query, "url") || !has(query, "msg"))
        return;
    if (ClientHandler* handler = host_.pageBridge()) {
        handler->sendBrowserMessage(text(query, "url"), text(query, "msg"));
    }
    callback->Success(QStringLiteral("sendMsgToMainBrowser success"));
}

void CommandDispatcher::setIME(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    platform::Services* services = host_.services();
    if (services && services->keyboardLayout)
        services->keyboardLayout->activateUsEnglish();
    callback->Success(QStringLiteral("setIME success!"));
}
