#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/input_hooks.h"

class QObject;

namespace platform {

// What the system's desktop holds when the simulated devices stand in for the real ones: the
// cursor position and whoever watches left-button releases reaching the system.
class SimDesktop {
  public:
    void cursor(int& x, int& y);
    void setCursor(int x, int y);

    // Once it returns, a listener it replaced is no longer running nor called. Not to be
    // called from inside the listener.
    void setLeftButtonUpListener(std::function<void(int x, int y)> listener);
    // A left-button release reached the system (on the thread that passed it on).
    void leftButtonUp();

  private:
    std::mutex cursorMutex_;
    int x_ = 0;
    int y_ = 0;
    std::mutex listenerMutex_;  // held while the listener runs
    std::function<void(int, int)> listener_;
};

// The cursor of the simulated desktop. It has no windows, so there is nothing to type into.
class SimCursor final : public Cursor {
  public:
    explicit SimCursor(std::shared_ptr<SimDesktop> desktop);

    bool position(int& x, int& y) override;
    bool setPosition(int x, int y) override;
    bool typeText(const std::u16string& text) override;

  private:
    const std::shared_ptr<SimDesktop> desktop_;
};

// Sees the left-button releases the simulated filter driver passes on, at the cursor's
// position. The callback runs through the Qt event loop of the thread that installed the hook.
class SimMouseHook final : public MouseHook {
  public:
    explicit SimMouseHook(std::shared_ptr<SimDesktop> desktop);
    ~SimMouseHook() override;
    SimMouseHook(const SimMouseHook&) = delete;
    SimMouseHook& operator=(const SimMouseHook&) = delete;

    bool install(std::function<void(int x, int y)> onLeftButtonUp) override;
    // On the installing thread: no callback runs after it returns.
    void remove() override;

  private:
    const std::shared_ptr<SimDesktop> desktop_;
    // Lives on the installing thread; calls queued to it die with it.
    QObject* receiver_ = nullptr;
};

}  // namespace platform
