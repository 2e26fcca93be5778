#include "commands/command_dispatcher.h"

#include <exception>
#include <utility>

#include "base/engine_log.h"

CommandDispatcher::CommandDispatcher(CommandHost& host) : host_(host) {}

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
        {"keyMapChanged", &D::keyMapChanged},
        {"mouseTracks", &D::mouseTracks},
        {"goback", &D::goback},
        {"goforward", &D::goforward},
        {"savexml", &D::savexml},
        {"modifyMouseAcce", &D::modifyMouseAcce},
        {"modifyMouseSpeed", &D::modifyMouseSpeed},
        {"modifyMouseAccel", &D::modifyMouseAccel},
        {"modifyMouseScrollLines", &D::modifyMouseScrollLines},
        {"modifyMouseScrollLinesX", &D::modifyMouseScrollLinesX},
        {"modifyMouseDoubleClick", &D::modifyMouseDoubleClick},
        {"getWindowsMouseConfig", &D::getWindowsMouseConfig},
        {"getWindowsKeyboreadConfig", &D::getWindowsKeyboreadConfig},
        {"closeX", &D::closeX},
        {"closeApp", &D::closeApp},
        {"saveFileDialog", &D::saveFileDialog},
        {"openFileDialog", &D::openFileDialog},
        {"openUrl", &D::openUrl},
        {"downloadFile", &D::downloadFile},
        {"openView", &D::openView},
        {"closeView", &D::closeView},
        {"sendMsgToMainBrowser", &D::sendMsgToMainBrowser},
        {"openFileDialogEx", &D::openFileDialogEx},
        {"setIME", &D::setIME},
        {"setVDevice", &D::setVDevice},
        {"closeVDevice", &D::closeVDevice},
        {"playActions", &D::playActions},
        {"exportProfileFile", &D::exportProfileFile},
        {"importProfileFile", &D::importProfileFile},
        {"damagedProfile", &D::damagedProfile},
    };
    return commands;
}

QStringList CommandDispatcher::commandNames() {
    QStringList names;
    for (const Command& command : table())
        names.append(QLatin1String(command.name));
    return names;
}

namespace {

// Remembers whether the command answered, so that a command that fails halfway can still be
// answered once.
class TrackedCallback : public engine::QueryCallback {
  public:
    explicit TrackedCallback(engine::QueryCallbackPtr inner) : inner_(std::move(inner)) {}
    void Success(const QString& response) override {
        answered = true;
        inner_->Success(response);
    }
    void Failure(int errorCode, const QString& errorMessage) override {
        answered = true;
        inner_->Failure(errorCode, errorMessage);
    }
    bool answered = false;

  private:
    engine::QueryCallbackPtr inner_;
};

}  // namespace

bool CommandDispatcher::dispatch(const QString& funcname, const QVariantMap& query,
                                 const engine::QueryCallbackPtr& callback) {
    for (const Command& command : table()) {
        if (funcname != QLatin1String(command.name))
            continue;
        if (!command.handler)
            return true;
        const auto tracked = QSharedPointer<TrackedCallback>::create(callback);
        // A page's input must never end the program: whatever a handler throws (memory
        // exhausted by a huge argument, say) fails that one command.
        try {
            (this->*command.handler)(query, tracked);
        } catch (const std::exception& error) {
            ENGINE_LOG_INFO(QStringLiteral("Application Error: command %1 failed: %2")
                                .arg(funcname, QString::fromLocal8Bit(error.what())));
            if (!tracked->answered)
                callback->Failure(0, QStringLiteral("%1 failed!").arg(funcname));
        }
        return true;
    }
    return false;
}
