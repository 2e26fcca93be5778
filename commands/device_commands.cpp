// The device commands: properties, memory and macro slots of the attached device.

#include "commands/command_dispatcher.h"

#include <QDebug>
#include <QJsonDocument>

#include "commands/command_arguments.h"
#include "commands/key_script_builder.h"
#include "device/device_functions.h"

using commands::answer;
using commands::answerQuery;
using commands::has;
using commands::number;
using commands::text;

namespace {

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

void CommandDispatcher::getDevicesList(const QVariantMap&,
                                       const engine::QueryCallbackPtr& callback) {
    const QJsonArray devices = host_.deviceFunctions().getDevicesList();
    if (devices.isEmpty())
        return;
    callback->Success(QString::fromUtf8(QJsonDocument(devices).toJson(QJsonDocument::Compact)));
}

void CommandDispatcher::readDevicesDpiVal(const QVariantMap& query,
                                          const engine::QueryCallbackPtr& callback) {
    callback->Success(host_.deviceFunctions().readDevicesDpiVal(
        text(query, "HardwareID"), text(query, "DevicePath"), text(query, "dpiIndex")));
}

void CommandDispatcher::readDevicesProp(const QVariantMap& query,
                                        const engine::QueryCallbackPtr& callback) {
    callback->Success(host_.deviceFunctions().readDevicesProp(query));
}

void CommandDispatcher::writeDevicesProp(const QVariantMap& query,
                                         const engine::QueryCallbackPtr& callback) {
    const QString data = text(query, "PARAMDATA");
    const QString type = text(query, "TYPE");
    if (has(query, "DeviceVersion"))
        host_.setKeyDefinitionFile(text(query, "DeviceVersion"));
    QVariantMap map = query;
    DeviceMacroSlots macroSlots(host_.deviceFunctions());
    KeyScriptBuilder builder(host_.profiles(), host_.keyDefinitionFile(), macroSlots);
    if (!data.isEmpty() && !type.isEmpty() && type != QLatin1String("mouseFunc")) {
        const QString script = builder.buildKeyScript(data, type, query);
        map.insert(QStringLiteral("PARAMDATA"), script);
        qDebug().noquote() << script;
    }
    const bool written = host_.deviceFunctions().writeDevicesProp(map);
    // A body whose button could not be written would keep its slot with nothing pointing at it.
    if (!written)
        builder.releaseStoredMacro();
    answerQuery(callback, written, QStringLiteral("writeDevicesProp success!"),
                QStringLiteral("writeDevicesProp failed!"));
}

void CommandDispatcher::readByAddr(const QVariantMap& query,
                                   const engine::QueryCallbackPtr& callback) {
    callback->Success(host_.deviceFunctions().readByAddr(query));
}

void CommandDispatcher::writeByAddr(const QVariantMap& query,
                                    const engine::QueryCallbackPtr& callback) {
    answerQuery(callback, host_.deviceFunctions().writeByAddr(query),
                QStringLiteral("writeByAddr success!"), QStringLiteral("writeByAddr failed!"));
}

void CommandDispatcher::isPropEmpty(const QVariantMap& query,
                                    const engine::QueryCallbackPtr& callback) {
    callback->Success(host_.deviceFunctions().isPropEmpty(query) ? QStringLiteral("true")
                                                                 : QStringLiteral("false"));
}

void CommandDispatcher::cleanMacroByAddr(const QVariantMap& query,
                                         const engine::QueryCallbackPtr& callback) {
    answerQuery(callback, host_.deviceFunctions().cleanMacroByAddr(query),
                QStringLiteral("cleanMacroByAddr success!"),
                QStringLiteral("cleanMacroByAddr failed!"));
}

void CommandDispatcher::writeMacroByAddr(const QVariantMap& query,
                                         const engine::QueryCallbackPtr& callback) {
    answerQuery(callback, host_.deviceFunctions().writeMacroByAddr(query), QStringLiteral("true"),
                QStringLiteral("writeMacroByAddr failed!"));
}
