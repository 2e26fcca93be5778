#pragma once

// How command handlers read a query's arguments and answer it.

#include <QString>
#include <QVariantMap>

#include "commands/page_query.h"
#include "commands/profile_store.h"
#include "webhost/engine/engine.h"

namespace commands {

// An argument as text: a JSON number becomes its decimal text, a missing one "".
inline QString text(const QVariantMap& query, const char* key) {
    return argumentText(query.value(QLatin1String(key)));
}

// The argument `num`: a number or a numeric text; anything else is 0.
inline int number(const QVariantMap& query, const char* key) {
    return argumentNumber(query.value(QLatin1String(key)));
}

inline bool has(const QVariantMap& query, const char* key) {
    return query.contains(QLatin1String(key));
}

inline void answerQuery(const engine::QueryCallbackPtr& callback, bool ok, const QString& success,
                        const QString& failure) {
    if (ok) {
        callback->Success(success);
    } else {
        callback->Failure(0, failure);
    }
}

inline void answer(const engine::QueryCallbackPtr& callback, const ProfileAnswer& result) {
    if (result.kind == ProfileAnswer::Success)
        callback->Success(result.text);
    if (result.kind == ProfileAnswer::Failure)
        callback->Failure(0, result.text);
}

}  // namespace commands
