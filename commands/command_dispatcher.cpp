#include "commands/command_dispatcher.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QJsonDocument>
#include <QUrl>

#include "app/application.h"
#include "app/window.h"
#include "commands/key_script_builder.h"
#include "device/device_functions.h"
#include "webhost/client_handler.h"
#include "webhost/page_geometry.h"
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

// The device's macro slots as the key-script builder uses them.
class DeviceMacroSlots : public MacroSlotDevice {
  public:
    explicit DeviceMacroSlots(DeviceFunctions& device) : device_(device) {}
    bool isBlockEmpty(const QString& hardwareId, const QString& devicePath, const QString& address,
                      const QString& size) override {
        return device_.isBlockEmpty(hardwareId, devicePath, address, size);
    }
    bool writeBlock(const QString& hardwareId, const QString& devicePath, const QString& address,
                    const QString& size, const QString& data) override {
        return device_.writeBlock(hardwareId, devicePath, address, size, data);
    }

  private:
    DeviceFunctions& device_;
};

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
        {"getDevicesList", &D::getDevicesList},
        {"readDevicesDpiVal", &D::readDevicesDpiVal},
        {"readDevicesProp", &D::readDevicesProp},
        {"writeDevicesProp", &D::writeDevicesProp},
        {"readByAddr", &D::readByAddr},
        {"writeByAddr", &D::writeByAddr},
        {"isPropEmpty", &D::isPropEmpty},
        {"cleanMacroByAddr", &D::cleanMacroByAddr},
        {"writeMacroByAddr", &D::writeMacroByAddr},
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

void CommandDispatcher::getDevicesList(const QVariantMap&,
                                       const engine::QueryCallbackPtr& callback) {
    const QJsonArray devices = window_.deviceFunctions().getDevicesList();
    if (devices.isEmpty())
        return;
    callback->Success(QString::fromUtf8(QJsonDocument(devices).toJson(QJsonDocument::Compact)));
}

void CommandDispatcher::readDevicesDpiVal(const QVariantMap& query,
                                          const engine::QueryCallbackPtr& callback) {
    callback->Success(window_.deviceFunctions().readDevicesDpiVal(
        text(query, "HardwareID"), text(query, "DevicePath"), text(query, "dpiIndex")));
}

void CommandDispatcher::readDevicesProp(const QVariantMap& query,
                                        const engine::QueryCallbackPtr& callback) {
    callback->Success(window_.deviceFunctions().readDevicesProp(query));
}

void CommandDispatcher::writeDevicesProp(const QVariantMap& query,
                                         const engine::QueryCallbackPtr& callback) {
    const QString data = text(query, "PARAMDATA");
    const QString type = text(query, "TYPE");
    if (has(query, "DeviceVersion"))
        window_.setKeyDefinitionFile(text(query, "DeviceVersion"));
    QVariantMap map = query;
    DeviceMacroSlots macroSlots(window_.deviceFunctions());
    KeyScriptBuilder builder(window_.profiles(), window_.keyDefinitionFile(), macroSlots);
    if (!data.isEmpty() && !type.isEmpty() && type != QLatin1String("mouseFunc")) {
        const QString script = builder.buildKeyScript(data, type, query);
        map.insert(QStringLiteral("PARAMDATA"), script);
        qDebug().noquote() << script;
    }
    const bool written = window_.deviceFunctions().writeDevicesProp(map);
    // A body whose button could not be written would keep its slot with nothing pointing at it.
    if (!written)
        builder.releaseStoredMacro();
    answerQuery(callback, written, QStringLiteral("writeDevicesProp success!"),
                QStringLiteral("writeDevicesProp failed!"));
}

void CommandDispatcher::readByAddr(const QVariantMap& query,
                                   const engine::QueryCallbackPtr& callback) {
    callback->Success(window_.deviceFunctions().readByAddr(query));
}

void CommandDispatcher::writeByAddr(const QVariantMap& query,
                                    const engine::QueryCallbackPtr& callback) {
    answerQuery(callback, window_.deviceFunctions().writeByAddr(query),
                QStringLiteral("writeByAddr success!"), QStringLiteral("writeByAddr failed!"));
}

void CommandDispatcher::isPropEmpty(const QVariantMap& query,
                                    const engine::QueryCallbackPtr& callback) {
    callback->Success(window_.deviceFunctions().isPropEmpty(query) ? QStringLiteral("true")
                                                                   : QStringLiteral("false"));
}

void CommandDispatcher::cleanMacroByAddr(const QVariantMap& query,
                                         const engine::QueryCallbackPtr& callback) {
    answerQuery(callback, window_.deviceFunctions().cleanMacroByAddr(query),
                QStringLiteral("cleanMacroByAddr success!"),
                QStringLiteral("cleanMacroByAddr failed!"));
}

void CommandDispatcher::writeMacroByAddr(const QVariantMap& query,
                                         const engine::QueryCallbackPtr& callback) {
    answerQuery(callback, window_.deviceFunctions().writeMacroByAddr(query), QStringLiteral("true"),
                QStringLiteral("writeMacroByAddr failed!"));
}

void CommandDispatcher::loadurl(const QVariantMap& query, const engine::QueryCallbackPtr&) {
    if (!has(query, "url"))
        return;
    const QString url = webhost::applicationPageUrl(Application::appFolder(), text(query, "url"));
    ClientHandler* handler = ClientHandler::instance();
    if (const engine::BrowserPtr browser = handler ? handler->mainBrowser() : nullptr) {
        browser->loadUrl(url);
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
