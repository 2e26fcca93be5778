#include "webhost/engine/message_router.h"

#include <QMutexLocker>

namespace engine {

using QueryKey = std::pair<int, qint64>;  // browser identifier, query id

struct MessageRouter::State {
    mutable QMutex mutex;
    std::map<QueryKey, bool> pending;  // value: persistent
};

namespace {

class RouterCallback : public QueryCallback {
  public:
    RouterCallback(QWeakPointer<MessageRouter::State> state, BrowserPtr browser, qint64 queryId)
        : state_(std::move(state)), browser_(std::move(browser)), queryId_(queryId) {}

    void Success(const QString& response) override { answer(true, 0, response); }
    void Failure(int errorCode, const QString& errorMessage) override {
        answer(false, errorCode, errorMessage);
    }

  private:
    void answer(bool ok, int code, const QString& text) {
        const QSharedPointer<MessageRouter::State> state = state_.toStrongRef();
        if (!state)
            return;
        {
            QMutexLocker lock(&state->mutex);
            const auto it = state->pending.find({browser_->identifier(), queryId_});
            // A cancelled, closed or already answered one-shot query takes no answer.
            if (it == state->pending.end())
                return;
            if (!it->second)
                state->pending.erase(it);
        }
        browser_->sendProcessMessage(QString::fromLatin1(MessageRouter::kResultMessage),
                                     {queryId_, ok, code, text});
    }

    QWeakPointer<MessageRouter::State> state_;
    BrowserPtr browser_;
    qint64 queryId_;
};

}  // namespace

MessageRouter::MessageRouter() : state_(new State) {}

MessageRouter::~MessageRouter() = default;

void MessageRouter::addHandler(Handler* handler) {
    handlers_.push_back(handler);
}

bool MessageRouter::onProcessMessageReceived(const BrowserPtr& browser, const QString& name,
                                             const QVariantList& arguments) {
    if (name == QLatin1String(kQueryMessage)) {
        if (arguments.size() != 3)
            return true;
        const qint64 queryId = arguments.at(0).toLongLong();
        const QString request = arguments.at(1).toString();
        const bool persistent = arguments.at(2).toBool();
        {
            QMutexLocker lock(&state_->mutex);
            if (!state_->pending.emplace(QueryKey{browser->identifier(), queryId}, persistent)
                     .second) {
                return true;  // the page reused a pending id
            }
        }
        const QueryCallbackPtr callback(new RouterCallback(state_, browser, queryId));
        for (Handler* handler : handlers_) {
            if (handler->onQuery(browser, queryId, request, persistent, callback))
                return true;
        }
        // Nobody took it: the query stays open on the page, as an unanswered one does.
        return true;
    }
    if (name == QLatin1String(kCancelMessage)) {
        if (arguments.size() != 1)
            return true;
        const qint64 queryId = arguments.at(0).toLongLong();
        bool wasPending = false;
        {
            QMutexLocker lock(&state_->mutex);
            wasPending = state_->pending.erase({browser->identifier(), queryId}) > 0;
        }
        if (wasPending) {
            for (Handler* handler : handlers_)
                handler->onQueryCanceled(browser, queryId);
        }
        return true;
    }
    return false;
}

void MessageRouter::onBeforeBrowse(const BrowserPtr& browser) {
    cancelPending(browser);
}

void MessageRouter::onBeforeClose(const BrowserPtr& browser) {
    cancelPending(browser);
}

int MessageRouter::pendingQueryCount() const {
    QMutexLocker lock(&state_->mutex);
    return static_cast<int>(state_->pending.size());
}

void MessageRouter::cancelPending(const BrowserPtr& browser) {
    std::vector<qint64> cancelled;
    {
        QMutexLocker lock(&state_->mutex);
        for (auto it = state_->pending.begin(); it != state_->pending.end();) {
            if (it->first.first == browser->identifier()) {
                cancelled.push_back(it->first.second);
                it = state_->pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (qint64 queryId : cancelled) {
        for (Handler* handler : handlers_)
            handler->onQueryCanceled(browser, queryId);
    }
}

}  // namespace engine
