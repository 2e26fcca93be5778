#pragma once

#include <QMutex>
#include <QSharedPointer>
#include <QVariantList>

#include <map>
#include <utility>
#include <vector>

#include "webhost/engine/engine.h"

namespace engine {

// Browser side of the page query channel: pages send queries as process messages, handlers
// answer them through a callback, and the answer goes back as a process message. Pages see
// the functions "cefQuery" and "cefQueryCancel".
class MessageRouter {
  public:
    static constexpr const char* kQueryMessage = "cefQueryMsg";         // [id, request, persistent]
    static constexpr const char* kCancelMessage = "cefQueryCancelMsg";  // [id]
    static constexpr const char* kResultMessage = "cefQueryResult";     // [id, ok, code, text]

    class Handler {
      public:
        virtual ~Handler() = default;
        // True when the handler takes the query; it answers through `callback` now or later.
        virtual bool onQuery(const BrowserPtr& browser, qint64 queryId, const QString& request,
                             bool persistent, const QueryCallbackPtr& callback) = 0;
        virtual void onQueryCanceled(const BrowserPtr& browser, qint64 queryId) {
            Q_UNUSED(browser);
            Q_UNUSED(queryId);
        }
    };

    MessageRouter();
    ~MessageRouter();

    void addHandler(Handler* handler);

    // Returns true for the router's own messages.
    bool onProcessMessageReceived(const BrowserPtr& browser, const QString& name,
                                  const QVariantList& arguments);
    // A navigation or a closing browser ends the browser's pending queries.
    void onBeforeBrowse(const BrowserPtr& browser);
    void onBeforeClose(const BrowserPtr& browser);

    int pendingQueryCount() const;

    struct State;

  private:
    void cancelPending(const BrowserPtr& browser);

    QSharedPointer<State> state_;
    std::vector<Handler*> handlers_;
};

}  // namespace engine
