#pragma once

// Desktop-wide input services of the macro engine: the low-level mouse hook that records
// clicks, the cursor, text typed into the window under the cursor, the keyboard layout, the
// process priority and system-wide hot keys. Standard C++ only.

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

class MouseHook {
  public:
    virtual ~MouseHook() = default;
    // Installs the desktop-wide hook; `onLeftButtonUp` runs with the cursor position for every
    // left-button release, on the thread that installed it. False when it cannot be installed.
    virtual bool install(std::function<void(int x, int y)> onLeftButtonUp) = 0;
    virtual void remove() = 0;
};

class Cursor {
  public:
    virtual ~Cursor() = default;
    virtual bool position(int& x, int& y) = 0;
    virtual bool setPosition(int x, int y) = 0;
    // Posts each UTF-16 unit of `text` as a character message to the window under the
    // cursor; false when there is none.
    virtual bool typeText(const std::u16string& text) = 0;
};

class KeyboardLayout {
  public:
    virtual ~KeyboardLayout() = default;
    // Loads and activates US English (0x0409) for the whole process.
    virtual void activateUsEnglish() = 0;
};

class ProcessPriority {
  public:
    virtual ~ProcessPriority() = default;
    virtual void raiseToHigh() = 0;
};

// Modifier bits of a hot key.
enum HotKeyModifier : unsigned {
    kHotKeyShift = 1,
    kHotKeyControl = 2,
    kHotKeyAlt = 4,
    kHotKeyMeta = 8,
};

class GlobalHotKeys {
  public:
    virtual ~GlobalHotKeys() = default;
    // Registers `key` (a Qt key code: 'A'..'Z', '0'..'9', 0x01000030 + n for F1 + n) with
    // the modifier bits system-wide under `id`; false when the system refuses it.
    virtual bool registerHotKey(std::uint32_t id, unsigned modifiers, int key) = 0;
    virtual void unregisterHotKey(std::uint32_t id) = 0;
    // Reads a native message given to Qt's native event filter (event type name and message
    // structure): true with `id` set when it is the activation of a registered hot key.
    virtual bool decodeActivation(const std::string& eventType, const void* message,
                                  std::uint32_t& id) = 0;
};

}  // namespace platform
