#pragma once

// The desktop-wide input services of an X11 session.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/input_hooks.h"

struct _XDisplay;
class QSocketNotifier;

namespace platform {

// The pointer of the X display, through a connection of its own.
class X11Cursor final : public Cursor {
  public:
    // Null when no X display can be opened.
    static std::unique_ptr<X11Cursor> create();
    ~X11Cursor() override;
    X11Cursor(const X11Cursor&) = delete;
    X11Cursor& operator=(const X11Cursor&) = delete;

    bool position(int& x, int& y) override;
    bool setPosition(int x, int y) override;
    // Sends a key press and release per character to the deepest window under the pointer;
    // characters that no key of the keyboard map produces are left out. False when the
    // pointer is over no window but the root.
    bool typeText(const std::u16string& text) override;

  private:
    explicit X11Cursor(_XDisplay* display);

    std::mutex mutex_;  // the connection is used from playback and the main thread
    _XDisplay* const display_;
};

// Left-button releases anywhere on the X display, recorded with the pointer position each
// happened at (the RECORD extension) on connections of its own. The callback runs through the
// Qt event loop of the thread that first installed the hook; it is installed and removed there.
class X11MouseHook final : public MouseHook {
  public:
    // Null when no X display can be opened or it lacks the RECORD extension.
    static std::unique_ptr<X11MouseHook> create();
    ~X11MouseHook() override;
    X11MouseHook(const X11MouseHook&) = delete;
    X11MouseHook& operator=(const X11MouseHook&) = delete;

    bool install(std::function<void(int x, int y)> onLeftButtonUp) override;
    // The callback may call it.
    void remove() override;

  private:
    X11MouseHook(_XDisplay* control, _XDisplay* data, unsigned long context);
    struct Recorder;  // the recording's callback
    bool awaitEndOfRecording();
    void deliver();

    _XDisplay* const control_;
    _XDisplay* const data_;  // carries nothing but the recording
    const unsigned long context_;
    bool recording_ = false;  // on the server's side: until its end has been read
    std::vector<std::pair<int, int>> releases_;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void(int, int)> callback_;
};

// Hot keys as passive key grabs on the root window, made on Qt's own X connection so that the
// key presses reach Qt's native event filter. Refuses every registration when Qt does not run
// on X11 (no display, or another platform plugin).
class X11GlobalHotKeys final : public GlobalHotKeys {
  public:
    ~X11GlobalHotKeys() override;

    bool registerHotKey(std::uint32_t id, unsigned modifiers, int key) override;
    void unregisterHotKey(std::uint32_t id) override;
    // Qt's "xcb_generic_event_t": a key press on the root window with a registered key code
    // and modifiers (Caps Lock and Num Lock aside).
    bool decodeActivation(const std::string& eventType, const void* message,
                          std::uint32_t& id) override;

  private:
    struct Grab {
        std::uint8_t keycode = 0;
        std::uint16_t modifiers = 0;
    };
    void ungrab(const Grab& grab, int variants);

    std::map<std::uint32_t, Grab> grabs_;
};

}  // namespace platform
