// The profile commands: XPath queries and changes of profile XML files.

#include "commands/command_dispatcher.h"

#include "commands/command_arguments.h"
#include "commands/profile_store.h"

using commands::answer;
using commands::answerQuery;
using commands::has;
using commands::number;
using commands::text;

void CommandDispatcher::queryProfile(const QVariantMap& query,
                                     const engine::QueryCallbackPtr& callback) {
    if (!has(query, "filePath") || !has(query, "xpath"))
        return;
    answer(callback, host_.profiles().queryProfile(text(query, "filePath"), text(query, "xpath")));
}

void CommandDispatcher::modifyProfileXml(const QVariantMap& query,
                                         const engine::QueryCallbackPtr& callback) {
    answer(callback,
           host_.profiles().modifyProfileXml(text(query, "filePath"), text(query, "contentStr")));
}

void CommandDispatcher::damagedProfile(const QVariantMap& query,
                                       const engine::QueryCallbackPtr& callback) {
    const QString kept = host_.profiles().damagedCopy(text(query, "filePath"));
    commands::answerQuery(callback, !kept.isEmpty(), kept, QStringLiteral("not damaged"));
}

void CommandDispatcher::savexml(const QVariantMap&, const engine::QueryCallbackPtr& callback) {
    answer(callback, host_.profiles().savexml());
}
