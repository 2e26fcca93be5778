#include <gtest/gtest.h>

#include <memory>

#include "fake_engine.h"
#include "webhost/engine/message_router.h"

namespace {

using engine::MessageRouter;

const QString kQuery = QString::fromLatin1(MessageRouter::kQueryMessage);
const QString kCancel = QString::fromLatin1(MessageRouter::kCancelMessage);
const QString kResult = QString::fromLatin1(MessageRouter::kResultMessage);

// Takes the queries it is told to and keeps their callbacks for the test to answer.
class RecordingHandler : public MessageRouter::Handler {
  public:
    struct Query {
        int browserId;
        qint64 id;
        QString request;
        bool persistent;
        engine::QueryCallbackPtr callback;
    };

    explicit RecordingHandler(bool takes = true) : takes_(takes) {}

    bool onQuery(const engine::BrowserPtr& browser, qint64 queryId, const QString& request,
                 bool persistent, const engine::QueryCallbackPtr& callback) override {
        queries.append({browser->identifier(), queryId, request, persistent, callback});
        return takes_;
    }
    void onQueryCanceled(const engine::BrowserPtr& browser, qint64 queryId) override {
        cancelled.append({browser->identifier(), queryId});
    }

    QList<Query> queries;
    QList<QPair<int, qint64>> cancelled;

  private:
    bool takes_;
};

class MessageRouterTest : public ::testing::Test {
  protected:
    void SetUp() override { router_->addHandler(&handler_); }

    bool query(const fake::BrowserPtr& browser, qint64 id, const QString& request,
               bool persistent = false) {
        return router_->onProcessMessageReceived(browser, kQuery, {id, request, persistent});
    }

    static QList<QVariantList> results(const fake::BrowserPtr& browser) {
        QList<QVariantList> answers;
        for (const fake::ProcessMessage& message : browser->messages(kResult))
            answers.append(message.arguments);
        return answers;
    }

    std::unique_ptr<MessageRouter> router_ = std::make_unique<MessageRouter>();
    RecordingHandler handler_;
    fake::BrowserPtr page_ = fake::BrowserPtr::create(1);
    fake::BrowserPtr other_ = fake::BrowserPtr::create(2);
};

TEST_F(MessageRouterTest, QueryReachesTheHandlerWithItsRequest) {
    EXPECT_TRUE(query(page_, 7, "{\"funcname\":\"goback\"}", true));
    ASSERT_EQ(handler_.queries.size(), 1);
    const RecordingHandler::Query& received = handler_.queries.first();
    EXPECT_EQ(received.browserId, 1);
    EXPECT_EQ(received.id, 7);
    EXPECT_EQ(received.request, "{\"funcname\":\"goback\"}");
    EXPECT_TRUE(received.persistent);
    EXPECT_EQ(router_->pendingQueryCount(), 1);
    EXPECT_TRUE(page_->messages().isEmpty());
}

TEST_F(MessageRouterTest, OneShotQueryTakesOnlyItsFirstAnswer) {
    query(page_, 1, "a");
    query(page_, 2, "b");
    ASSERT_EQ(handler_.queries.size(), 2);

    handler_.queries[0].callback->Success("done");
    handler_.queries[0].callback->Failure(3, "late");
    handler_.queries[1].callback->Failure(0, "failed!");
    handler_.queries[1].callback->Success("late");

    const QList<QVariantList> answers = results(page_);
    ASSERT_EQ(answers.size(), 2);
    EXPECT_EQ(answers[0], (QVariantList{qint64(1), true, 0, QString("done")}));
    EXPECT_EQ(answers[1], (QVariantList{qint64(2), false, 0, QString("failed!")}));
    EXPECT_EQ(router_->pendingQueryCount(), 0);
}

TEST_F(MessageRouterTest, FailureCarriesItsCode) {
    query(page_, 4, "a");
    handler_.queries[0].callback->Failure(-12, "busy");
    ASSERT_EQ(results(page_).size(), 1);
    EXPECT_EQ(results(page_)[0], (QVariantList{qint64(4), false, -12, QString("busy")}));
}

TEST_F(MessageRouterTest, PersistentQueryTakesAnswersUntilCancelled) {
    query(page_, 9, "watch", true);
    const engine::QueryCallbackPtr callback = handler_.queries[0].callback;
    callback->Success("one");
    callback->Success("two");
    callback->Failure(1, "three");
    EXPECT_EQ(results(page_).size(), 3);
    EXPECT_EQ(router_->pendingQueryCount(), 1);

    EXPECT_TRUE(router_->onProcessMessageReceived(page_, kCancel, {qint64(9)}));
    ASSERT_EQ(handler_.cancelled.size(), 1);
    EXPECT_EQ(handler_.cancelled[0], qMakePair(1, qint64(9)));
    callback->Success("after cancel");
    EXPECT_EQ(results(page_).size(), 3);
    EXPECT_EQ(router_->pendingQueryCount(), 0);
}

TEST_F(MessageRouterTest, CancelOfAnUnknownOrAnsweredQueryTellsNobody) {
    query(page_, 1, "a");
    handler_.queries[0].callback->Success("x");
    router_->onProcessMessageReceived(page_, kCancel, {qint64(1)});
    router_->onProcessMessageReceived(page_, kCancel, {qint64(42)});
    // The id belongs to another browser.
    query(other_, 5, "b");
    router_->onProcessMessageReceived(page_, kCancel, {qint64(5)});
    EXPECT_TRUE(handler_.cancelled.isEmpty());
    EXPECT_EQ(router_->pendingQueryCount(), 1);
}

TEST_F(MessageRouterTest, NavigationEndsOnlyThatBrowsersQueries) {
    query(page_, 1, "a");
    query(page_, 2, "b", true);
    query(other_, 1, "c");
    router_->onBeforeBrowse(page_);

    EXPECT_EQ(handler_.cancelled.size(), 2);
    EXPECT_EQ(router_->pendingQueryCount(), 1);
    handler_.queries[0].callback->Success("late");
    handler_.queries[1].callback->Success("late");
    handler_.queries[2].callback->Success("kept");
    EXPECT_TRUE(results(page_).isEmpty());
    EXPECT_EQ(results(other_).size(), 1);
}

TEST_F(MessageRouterTest, ClosingBrowserEndsItsQueries) {
    query(page_, 1, "a");
    query(page_, 2, "b", true);
    router_->onBeforeClose(page_);
    EXPECT_EQ(handler_.cancelled.size(), 2);
    EXPECT_EQ(router_->pendingQueryCount(), 0);
    handler_.queries[1].callback->Success("late");
    EXPECT_TRUE(results(page_).isEmpty());
}

TEST_F(MessageRouterTest, QueryNobodyTakesStaysPendingUnanswered) {
    MessageRouter router;
    RecordingHandler declines(false);
    RecordingHandler takes(true);
    router.addHandler(&declines);
    router.addHandler(&takes);
    router.onProcessMessageReceived(page_, kQuery, {qint64(1), QString("a"), false});
    EXPECT_EQ(declines.queries.size(), 1);
    EXPECT_EQ(takes.queries.size(), 1);  // offered on when the first one declines

    MessageRouter unhandled;
    RecordingHandler nobody(false);
    unhandled.addHandler(&nobody);
    unhandled.onProcessMessageReceived(page_, kQuery, {qint64(2), QString("b"), false});
    EXPECT_EQ(unhandled.pendingQueryCount(), 1);
    EXPECT_TRUE(page_->messages().isEmpty());
}

TEST_F(MessageRouterTest, ReusedPendingIdIsNotDeliveredAgain) {
    query(page_, 3, "first");
    query(page_, 3, "second");
    ASSERT_EQ(handler_.queries.size(), 1);
    EXPECT_EQ(handler_.queries[0].request, "first");
    // The same id from another browser is a query of its own.
    query(other_, 3, "elsewhere");
    EXPECT_EQ(handler_.queries.size(), 2);
}

TEST_F(MessageRouterTest, MalformedRouterMessagesAreSwallowed) {
    EXPECT_TRUE(router_->onProcessMessageReceived(page_, kQuery, {}));
    EXPECT_TRUE(router_->onProcessMessageReceived(page_, kQuery, {qint64(1), QString("a")}));
    EXPECT_TRUE(router_->onProcessMessageReceived(page_, kQuery,
                                                  {qint64(1), QString("a"), false, QString("x")}));
    EXPECT_TRUE(router_->onProcessMessageReceived(page_, kCancel, {}));
    EXPECT_TRUE(router_->onProcessMessageReceived(page_, kCancel, {qint64(1), qint64(2)}));
    EXPECT_TRUE(handler_.queries.isEmpty());
    EXPECT_EQ(router_->pendingQueryCount(), 0);

    // Arguments of the wrong kinds still make a defined query.
    EXPECT_TRUE(router_->onProcessMessageReceived(
        page_, kQuery, {QVariant(), QVariant(QVariantList{1, 2}), QString("yes")}));
    ASSERT_EQ(handler_.queries.size(), 1);
    EXPECT_EQ(handler_.queries[0].id, 0);
    EXPECT_TRUE(handler_.queries[0].request.isEmpty());

    EXPECT_FALSE(router_->onProcessMessageReceived(page_, "devicesChanged", {1}));
    EXPECT_FALSE(router_->onProcessMessageReceived(page_, QString(), {}));
}

TEST_F(MessageRouterTest, AnswerAfterTheRouterIsGoneIsDropped) {
    query(page_, 1, "a");
    const engine::QueryCallbackPtr callback = handler_.queries[0].callback;
    handler_.queries.clear();
    router_.reset();
    callback->Success("late");
    EXPECT_TRUE(page_->messages().isEmpty());
}

}  // namespace
