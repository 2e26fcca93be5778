// The commands that read and change the system's own mouse settings, and the recording of
// click positions.

#include "commands/command_dispatcher.h"

#include "base/engine_log.h"
#include "commands/command_arguments.h"
#include "device/device_functions.h"
#include "device/system_mouse_settings.h"
#include "macro/device_filter.h"
#include "macro/mouse_track_recorder.h"
#include "platform/services.h"

using commands::answerQuery;
using commands::has;
using commands::number;
using commands::text;

namespace {

SystemMouseSettings systemSettings(CommandHost& host) {
    platform::Services* services = host.services();
    return SystemMouseSettings(services ? services->mouseSettings.get() : nullptr);
}

const QString kStart = QStringLiteral("开始");
const QString kStop = QStringLiteral("停止");

}  // namespace

void CommandDispatcher::modifyMouseAcce(const QVariantMap& query,
                                        const engine::QueryCallbackPtr& callback) {
    if (!has(query, "num"))
        return;
    answerQuery(callback, systemSettings(host_).setAccelerationLevel(number(query, "num")),
                QStringLiteral("modifyMouseAccel success"),
                QStringLiteral("modifyMouseAccel failed"));
}

void CommandDispatcher::modifyMouseSpeed(const QVariantMap& query,
                                         const engine::QueryCallbackPtr& callback) {
    if (!has(query, "num"))
        return;
    answerQuery(callback, systemSettings(host_).setSpeedLevel(number(query, "num")),
                QStringLiteral("modifyMouseSpeed success"),
                QStringLiteral("modifyMouseSpeed failed"));
}

void CommandDispatcher::modifyMouseScrollLines(const QVariantMap& query,
                                               const engine::QueryCallbackPtr& callback) {
    if (!has(query, "num"))
        return;
    answerQuery(callback, systemSettings(host_).setScrollLines(number(query, "num")),
                QStringLiteral("modifyMouseScrollLines success"),
                QStringLiteral("modifyMouseScrollLinesY failed"));
}

void CommandDispatcher::modifyMouseScrollLinesX(const QVariantMap& query,
                                                const engine::QueryCallbackPtr& callback) {
    if (!has(query, "num"))
        return;
    answerQuery(callback, systemSettings(host_).setScrollChars(number(query, "num")),
                QStringLiteral("modifyMouseScrollLinesX success"),
                QStringLiteral("modifyMouseScrollLinesX failed"));
}

void CommandDispatcher::modifyMouseDoubleClick(const QVariantMap& query,
                                               const engine::QueryCallbackPtr& callback) {
    if (!has(query, "num"))
        return;
    answerQuery(callback, systemSettings(host_).setDoubleClickLevel(number(query, "num")),
                QStringLiteral("modifyMouseDoubleClick success"),
                QStringLiteral("modifyMouseDoubleClick failed"));
}

void CommandDispatcher::getWindowsMouseConfig(const QVariantMap& query,
                                              const engine::QueryCallbackPtr& callback) {
    if (!has(query, "HardwareID") || !has(query, "DevicePath"))
        return;
    const QString report = host_.deviceFunctions().readDeviceSummary(text(query, "HardwareID"),
                                                                     text(query, "DevicePath")) +
                           systemSettings(host_).report();
    ENGINE_LOG_INFO(report);
    callback->Success(report);
}

void CommandDispatcher::getWindowsKeyboreadConfig(const QVariantMap&,
                                                  const engine::QueryCallbackPtr& callback) {
    callback->Success(QString());
}

void CommandDispatcher::mouseTracks(const QVariantMap& query,
                                    const engine::QueryCallbackPtr& callback) {
    if (!has(query, "status"))
        return;
    const QString status = text(query, "status");
    if (status == kStart) {
        host_.mouseTracks().startTrack();
        callback->Success(QStringLiteral("mouseTracks success"));
    } else if (status == kStop) {
        const QString track = host_.mouseTracks().stopTrack();
        // The clicks just recorded are what a "MOUSEMOVE" key map plays back.
        if (DEVICE_FILTER* filter = host_.deviceFilter())
            filter->setRecordedPoints(MouseTrackRecorder::points(track));
        callback->Success(track);
    }
}

void CommandDispatcher::modifyMouseAccel(const QVariantMap&, const engine::QueryCallbackPtr&) {
    host_.mouseTracks().startTrack();
}
