#include "commands/command_dispatcher.h"

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
