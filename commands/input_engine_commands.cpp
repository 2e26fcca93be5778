// The commands that hand work to the macro and input engine: virtual key maps for the input
// filter, and software playback of an action text.

#include "commands/command_dispatcher.h"

#include "commands/command_arguments.h"
#include "macro/device_filter.h"

using commands::answerQuery;
using commands::has;
using commands::text;

void CommandDispatcher::keyMapChanged(const QVariantMap& query, const engine::QueryCallbackPtr&) {
    if (!has(query, "virtualXmlPath"))
        return;
    if (DEVICE_FILTER* filter = host_.deviceFilter())
        filter->loadKeyMap(text(query, "virtualXmlPath"), text(query, "deviceId"));
}

void CommandDispatcher::setVDevice(const QVariantMap& query,
                                   const engine::QueryCallbackPtr& callback) {
    const QString path = text(query, "virtualXmlPath");
    if (path.isEmpty())
        return;
    DEVICE_FILTER* filter = host_.deviceFilter();
    answerQuery(callback, filter && filter->loadKeyMap(path, text(query, "deviceId")),
                QStringLiteral("setVDevice success!"), QStringLiteral("setVDevice failed!"));
}

void CommandDispatcher::closeVDevice(const QVariantMap& query,
                                     const engine::QueryCallbackPtr& callback) {
    const QString deviceId = text(query, "deviceId");
    if (deviceId.isEmpty())
        return;
    DEVICE_FILTER* filter = host_.deviceFilter();
    answerQuery(callback, filter && filter->dropKeyMap(deviceId),
                QStringLiteral("closeVDevice success!"), QStringLiteral("closeVDevice failed!"));
}

void CommandDispatcher::playActions(const QVariantMap& query, const engine::QueryCallbackPtr&) {
    const QString actions = text(query, "actionList");
    if (!actions.isEmpty())
        host_.playActions(actions);
}
