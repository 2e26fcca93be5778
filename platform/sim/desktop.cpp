#include "platform/sim/desktop.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

namespace platform {

void SimDesktop::cursor(int& x, int& y) {
    std::lock_guard<std::mutex> lock(cursorMutex_);
    x = x_;
    y = y_;
}

void SimDesktop::setCursor(int x, int y) {
    std::lock_guard<std::mutex> lock(cursorMutex_);
    x_ = x;
    y_ = y;
}

void SimDesktop::setLeftButtonUpListener(std::function<void(int, int)> listener) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    listener_ = std::move(listener);
}

void SimDesktop::leftButtonUp() {
    int x = 0, y = 0;
    cursor(x, y);
    std::lock_guard<std::mutex> lock(listenerMutex_);
    if (listener_)
        listener_(x, y);
}

SimCursor::SimCursor(std::shared_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}

bool SimCursor::position(int& x, int& y) {
    desktop_->cursor(x, y);
    return true;
}

bool SimCursor::setPosition(int x, int y) {
    desktop_->setCursor(x, y);
    return true;
}

bool SimCursor::typeText(const std::u16string&) {
    return false;
}

SimMouseHook::SimMouseHook(std::shared_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}

SimMouseHook::~SimMouseHook() {
    remove();
}

bool SimMouseHook::install(std::function<void(int x, int y)> onLeftButtonUp) {
    remove();
    if (!onLeftButtonUp)
        return false;
    receiver_ = new QObject;
    QObject* receiver = receiver_;
    desktop_->setLeftButtonUpListener(
        [receiver, callback = std::move(onLeftButtonUp)](int x, int y) {
            QMetaObject::invokeMethod(
                receiver, [callback, x, y] { callback(x, y); }, Qt::QueuedConnection);
        });
    return true;
}

void SimMouseHook::remove() {
    if (!receiver_)
        return;
    // The listener goes first: once it is gone nothing posts to the receiver any more.
    desktop_->setLeftButtonUpListener(nullptr);
    delete receiver_;
    receiver_ = nullptr;
}

}  // namespace platform
