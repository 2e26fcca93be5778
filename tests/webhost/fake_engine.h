#pragma once

#include <QWidget>

// A headless browser engine for unit tests of the browser host. Everything runs on the
// test's thread: the test plays the engine's UI thread, posted engine tasks wait until the
// test runs them, and browsers exist only as call recorders.

#include <QDebug>
#include <QList>
#include <QMutex>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <deque>
#include <functional>
#include <ostream>
#include <utility>

#include "webhost/engine/engine.h"

// Readable failure messages for the Qt values the tests compare.
template <typename T>
std::string qtText(const T& value) {
    QString text;
    QDebug(&text).nospace() << value;
    return text.toStdString();
}
inline void PrintTo(const QString& value, std::ostream* out) {
    *out << qtText(value);
}
inline void PrintTo(const QStringList& value, std::ostream* out) {
    *out << qtText(value);
}
inline void PrintTo(const QVariant& value, std::ostream* out) {
    *out << qtText(value);
}
inline void PrintTo(const QVariantList& value, std::ostream* out) {
    *out << qtText(value);
}
inline void PrintTo(const QRect& value, std::ostream* out) {
    *out << qtText(value);
}
inline void PrintTo(const QSize& value, std::ostream* out) {
    *out << qtText(value);
}
inline void PrintTo(const QPoint& value, std::ostream* out) {
    *out << qtText(value);
}

namespace fake {

// One recorded call on a browser: the method's name and its arguments in order.
struct Call {
    QString method;
    QVariantList arguments;
};

struct ProcessMessage {
    QString name;
    QVariantList arguments;
};

class Browser : public engine::Browser {
  public:
    explicit Browser(int identifier, bool popup = false);

    int identifier() const override { return identifier_; }
    bool isPopup() const override { return popup_; }

    void goBack() override;
    void goForward() override;
    void reload() override;
    void stopLoad() override;
    void loadUrl(const QString& url) override;
    QString url() const override;
    void executeJavaScript(const QString& code, const QString& scriptUrl, int startLine) override;
    void sendProcessMessage(const QString& name, const QVariantList& arguments) override;
    void setBounds(const QRect& bounds) override;
    WId topLevelWindow() const override;
    void setMouseCursorChangeDisabled(bool disabled) override;

    // The page the browser shows; loadUrl does not change it (nothing navigates here).
    void setUrl(const QString& url);
    void setTopLevelWindow(WId window);

    QList<Call> calls() const;
    QList<Call> calls(const QString& method) const;
    int count(const QString& method) const { return calls(method).size(); }
    QList<ProcessMessage> messages() const;
    QList<ProcessMessage> messages(const QString& name) const;
    void clearCalls();

  private:
    void record(const QString& method, const QVariantList& arguments);

    const int identifier_;
    const bool popup_;
    mutable QMutex mutex_;
    QString url_;
    WId topLevelWindow_ = 0;
    QList<Call> calls_;
};
using BrowserPtr = QSharedPointer<Browser>;

// What a view asked the engine for.
struct CreateRequest {
    QWidget* parent = nullptr;
    QRect bounds;
    engine::BrowserSettings settings;
    QString url;
    engine::Client* client = nullptr;
};

class Engine : public engine::Engine {
  public:
    int executeProcess(int argc, char** argv, engine::App* app) override;
    bool initialize(const engine::Settings& settings, engine::App* app) override;
    void shutdown() override {}
    bool registerSchemeHandlerFactory(
        const QString& schemeName, const QString& domainName,
        QSharedPointer<engine::SchemeHandlerFactory> factory) override;
    bool createBrowser(QWidget* parent, const QRect& bounds,
                       const engine::BrowserSettings& settings, const QString& url,
                       engine::Client* client) override;
    bool currentlyOn(engine::Thread thread) const override;
    void postTask(engine::Thread thread, std::function<void()> task) override;

    const QList<CreateRequest>& createRequests() const { return requests_; }
    // The engine's answer to createBrowser.
    void setCreateResult(bool accepted) { createResult_ = accepted; }

    // Finishes the creation asked for by request `index`: a new browser showing the request's
    // URL is announced to the request's client.
    BrowserPtr completeCreation(int index, bool popup = false);
    // A browser announced to `client` without a view's request (e.g. an engine popup).
    BrowserPtr announceBrowser(engine::Client* client, const QString& url, bool popup = false);

    // Which engine thread the caller stands for; by default the UI thread.
    void setCallerThread(engine::Thread thread) { callerThread_ = thread; }
    int pendingTaskCount() const { return static_cast<int>(tasks_.size()); }
    // Runs the posted tasks, each as if on the thread it was posted to.
    void runPendingTasks();

  private:
    QList<CreateRequest> requests_;
    bool createResult_ = true;
    int nextIdentifier_ = 1;
    engine::Thread callerThread_ = engine::Thread::UI;
    std::deque<std::pair<engine::Thread, std::function<void()>>> tasks_;
};

// Records the answers a query receives.
class RecordingCallback : public engine::QueryCallback {
  public:
    struct Answer {
        bool success;
        int code;
        QString text;
    };

    void Success(const QString& response) override { answers.append({true, 0, response}); }
    void Failure(int errorCode, const QString& errorMessage) override {
        answers.append({false, errorCode, errorMessage});
    }

    QList<Answer> answers;
};

// Lets Qt events and queued calls run until `done` holds or `maxMs` passed; true if it holds.
bool pumpUntil(const std::function<bool()>& done, int maxMs = 2000);
// Runs the events that are due now.
void pumpEvents();

// A frameless top-level window, shown, for the window requests of a page to act on.
class PageWindow : public QWidget {
  public:
    PageWindow() : QWidget(nullptr, Qt::FramelessWindowHint) {
        setGeometry(100, 100, 300, 200);
        show();
        pumpEvents();
    }
};

}  // namespace fake
