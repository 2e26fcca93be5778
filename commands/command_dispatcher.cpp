#include "commands/command_dispatcher.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QUrl>

#include "app/application.h"
#include "app/window.h"
#include "webhost/client_handler.h"
#include "webhost/qcef_web_view.h"

namespace {

void answer(const engine::QueryCallbackPtr& callback, const ProfileAnswer& result) {
    if (result.kind == ProfileAnswer::Success)
        callback->Success(result.text);
    if (result.kind == ProfileAnswer::Failure)
        callback->Failure(0, result.text);
}

QString text(const QVariantMap& query, const char* key) {
    return query.value(QLatin1String(key)).toString();
}

bool has(const QVariantMap& query, const char* key) {
    return query.contains(QLatin1String(key));
}

QString documentsFolder() {
    return QDir::homePath() + QStringLiteral("/Documents");
}

}  // namespace

void answerQuery(const engine::QueryCallbackPtr& callback, bool ok, const QString& success,
                 const QString& failure) {
    if (ok) {
        callback->Success(success);
    } else {
        callback->Failure(0, failure);
    }
}

CommandDispatcher::CommandDispatcher(Window& window) : window_(window) {}

const std::vector<CommandDispatcher::Command>& CommandDispatcher::table() {
    using D = CommandDispatcher;
    static const std::vector<Command> commands = {
        {"getDevicesList", nullptr},
        {"readDevicesDpiVal", nullptr},
        {"readDevicesProp", nullptr},
        {"writeDevicesProp", nullptr},
        {"readByAddr", nullptr},
        {"writeByAddr", nullptr},
        {"isPropEmpty", nullptr},
        {"cleanMacroByAddr", nullptr},
        {"writeMacroByAddr", nullptr},
        {"loadurl", &D::loadurl},
        {"queryProfile", &D::queryProfile},
        {"modifyProfileXml", &D::modifyProfileXml},
        {"keyMapChanged", nullptr},
        {"mouseTracks", nullptr},
        {"goback", &D::goback},
        {"goforward", &D::goforward},
        {"savexml", &D::savexml},
        {"modifyMouseAcce", nullptr},
        {"modifyMouseSpeed", nullptr},
        {"modifyMouseAccel", nullptr},
        {"modifyMouseScrollLines", nullptr},
        {"modifyMouseScrollLinesX", nullptr},
        {"modifyMouseDoubleClick", nullptr},
        {"getWindowsMouseConfig", nullptr},
        {"getWindowsKeyboreadConfig", &D::getWindowsKeyboreadConfig},
        {"closeX", &D::closeX},
        {"closeApp", &D::closeApp},
        {"saveFileDialog", &D::saveFileDialog},
        {"openFileDialog", &D::openFileDialog},
        {"openUrl", &D::openUrl},
        {"downloadFile", nullptr},
        {"openView", &D::openView},
        {"closeView", &D::closeView},
        {"sendMsgToMainBrowser", &D::sendMsgToMainBrowser},
        {"openFileDialogEx", &D::openFileDialogEx},
        {"setIME", nullptr},
        {"setVDevice", nullptr},
        {"closeVDevice", nullptr},
        {"playActions", nullptr},
    };
    return commands;
}

QStringList CommandDispatcher::commandNames() {
    QStringList names;
    for (const Command& command : table())
        names.append(QLatin1String(command.name));
    return names;
}

bool CommandDispatcher::dispatch(const QString& funcname, const QVariantMap& query,
                                 const engine::QueryCallbackPtr& callback) {
    for (const Command& command : table()) {
        if (funcname != QLatin1String(command.name))
            continue;
        if (command.handler)
            (this->*command.handler)(query, callback);
        return true;
    }
    return false;
}

void CommandDispatcher::loadurl(const QVariantMap& query, const engine::QueryCallbackPtr&) {
    if (!has(query, "url"))
        return;
    const QString url =
        QStringLiteral("file:///") + QDir::cleanPath(Application::appFolder()) + text(query, "url");
    ClientHandler* handler = ClientHandler::instance();
    if (const engine::BrowserPtr browser = handler ? handler->mainBrowser() : nullptr) {
        browser->loadUrl(QUrl(url).toString(QUrl::FullyEncoded));
    }
}

void CommandDispatcher::queryProfile(const QVariantMap& query,
                                     const engine::QueryCallbackPtr& callback) {
    if (!has(query, "filePath") || !has(query, "xpath"))
        return;
    answer(callback,
           window_.profiles().queryProfile(text(query, "filePath"), text(query, "xpath")));
}

void CommandDispatcher::modifyProfileXml(const QVariantMap& query,
                                         const engine::QueryCallbackPtr& callback) {
    answer(callback,
           window_.profiles().modifyProfileXml(text(query, "filePath"), text(query, "contentStr")));
}

void CommandDispatcher::goback(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    window_.mainView()->back();
    callback->Success(QStringLiteral("goback"));
}

void CommandDispatcher::goforward(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    window_.mainView()->forward();
    callback->Success(QStringLiteral("goforward"));
}

void CommandDispatcher::savexml(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    answer(callback, window_.profiles().savexml());
}

void CommandDispatcher::getWindowsKeyboreadConfig(const QVariantMap&,
                                                  const engine::QueryCallbackPtr& callback) {
    callback->Success(QString());
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

void CommandDispatcher::openView(const QVariantMap& query, const engine::QueryCallbackPtr&) {
    if (!has(query, "relativeUrl") || !has(query, "size"))
        return;
    QString url = text(query, "relativeUrl");
    if (!text(query, "urlType").contains(QLatin1String("http"))) {
        url = QUrl(QStringLiteral("file:///") + QDir::cleanPath(Application::appFolder()) + url)
                  .toString(QUrl::FullyEncoded);
    }
    const QStringList size = text(query, "size").split(QLatin1Char(','));
    if (size.size() < 2)
        return;  // no height to read
    window_.openPopup(url, QSize(size.at(0).toInt(), size.at(1).toInt()));
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
