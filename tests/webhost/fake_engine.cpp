#include "fake_engine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutexLocker>

namespace fake {

Browser::Browser(int identifier, bool popup) : identifier_(identifier), popup_(popup) {}

void Browser::record(const QString& method, const QVariantList& arguments) {
    QMutexLocker lock(&mutex_);
    calls_.append({method, arguments});
}

void Browser::goBack() {
    record(QStringLiteral("goBack"), {});
}

void Browser::goForward() {
    record(QStringLiteral("goForward"), {});
}

void Browser::reload() {
    record(QStringLiteral("reload"), {});
}

void Browser::stopLoad() {
    record(QStringLiteral("stopLoad"), {});
}

void Browser::loadUrl(const QString& url) {
    record(QStringLiteral("loadUrl"), {url});
}

QString Browser::url() const {
    QMutexLocker lock(&mutex_);
    return url_;
}

void Browser::executeJavaScript(const QString& code, const QString& scriptUrl, int startLine) {
    record(QStringLiteral("executeJavaScript"), {code, scriptUrl, startLine});
}

void Browser::sendProcessMessage(const QString& name, const QVariantList& arguments) {
    record(QStringLiteral("sendProcessMessage"), {name, QVariant(arguments)});
}

void Browser::setBounds(const QRect& bounds) {
    record(QStringLiteral("setBounds"), {bounds});
}

WId Browser::topLevelWindow() const {
    QMutexLocker lock(&mutex_);
    return topLevelWindow_;
}

void Browser::setMouseCursorChangeDisabled(bool disabled) {
    record(QStringLiteral("setMouseCursorChangeDisabled"), {disabled});
}

void Browser::setUrl(const QString& url) {
    QMutexLocker lock(&mutex_);
    url_ = url;
}

void Browser::setTopLevelWindow(WId window) {
    QMutexLocker lock(&mutex_);
    topLevelWindow_ = window;
}

QList<Call> Browser::calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
}

QList<Call> Browser::calls(const QString& method) const {
    QList<Call> matching;
    for (const Call& call : calls()) {
        if (call.method == method)
            matching.append(call);
    }
    return matching;
}

QList<ProcessMessage> Browser::messages() const {
    QList<ProcessMessage> sent;
    for (const Call& call : calls(QStringLiteral("sendProcessMessage")))
        sent.append({call.arguments.at(0).toString(), call.arguments.at(1).toList()});
    return sent;
}

QList<ProcessMessage> Browser::messages(const QString& name) const {
    QList<ProcessMessage> matching;
    for (const ProcessMessage& message : messages()) {
        if (message.name == name)
            matching.append(message);
    }
    return matching;
}

void Browser::clearCalls() {
    QMutexLocker lock(&mutex_);
    calls_.clear();
}

int Engine::executeProcess(int, char**, engine::App*) {
    return -1;
}

bool Engine::initialize(const engine::Settings&, engine::App*) {
    return true;
}

bool Engine::registerSchemeHandlerFactory(const QString&, const QString&,
                                          QSharedPointer<engine::SchemeHandlerFactory>) {
    return true;
}

bool Engine::createBrowser(QWidget* parent, const QRect& bounds,
                           const engine::BrowserSettings& settings, const QString& url,
                           engine::Client* client) {
    requests_.append({parent, bounds, settings, url, client});
    return createResult_;
}

bool Engine::currentlyOn(engine::Thread thread) const {
    return thread == callerThread_;
}

void Engine::postTask(engine::Thread thread, std::function<void()> task) {
    tasks_.emplace_back(thread, std::move(task));
}

void Engine::runPendingTasks() {
    const engine::Thread caller = callerThread_;
    while (!tasks_.empty()) {
        auto [thread, task] = std::move(tasks_.front());
        tasks_.pop_front();
        callerThread_ = thread;
        task();
    }
    callerThread_ = caller;
}

BrowserPtr Engine::completeCreation(int index, bool popup) {
    const CreateRequest& request = requests_.at(index);
    return announceBrowser(request.client, request.url, popup);
}

BrowserPtr Engine::announceBrowser(engine::Client* client, const QString& url, bool popup) {
    BrowserPtr browser(new Browser(nextIdentifier_++, popup));
    browser->setUrl(url);
    client->onAfterCreated(browser);
    return browser;
}

bool pumpUntil(const std::function<bool()>& done, int maxMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > maxMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void pumpEvents() {
    // Twice: events posted by the handlers of the first round run too.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

}  // namespace fake
