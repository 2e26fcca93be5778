#pragma once

#include <windows.h>

#include <functional>
#include <set>

#include "platform/input_hooks.h"

namespace platform {

// One hook at a time in the process: install() fails while another object holds it. The
// callback runs on the installing thread while it pumps messages; install and remove there.
class Win32MouseHook final : public MouseHook {
  public:
    Win32MouseHook() = default;
    ~Win32MouseHook() override;
    Win32MouseHook(const Win32MouseHook&) = delete;
    Win32MouseHook& operator=(const Win32MouseHook&) = delete;

    bool install(std::function<void(int x, int y)> onLeftButtonUp) override;
    void remove() override;

  private:
    static LRESULT CALLBACK hookProcedure(int code, WPARAM wParam, LPARAM lParam);

    HHOOK hook_ = nullptr;
    std::function<void(int x, int y)> onLeftButtonUp_;
};

class Win32Cursor final : public Cursor {
  public:
    bool position(int& x, int& y) override;
    bool setPosition(int x, int y) override;
    bool typeText(const std::u16string& text) override;
};

class Win32KeyboardLayout final : public KeyboardLayout {
  public:
    void activateUsEnglish() override;
};

class Win32ProcessPriority final : public ProcessPriority {
  public:
    void raiseToHigh() override;
};

// Thread hot keys (no window): WM_HOTKEY reaches the registering thread's queue, where Qt's
// event dispatcher hands it to the native event filters. Registrations end with the object.
class Win32GlobalHotKeys final : public GlobalHotKeys {
  public:
    Win32GlobalHotKeys() = default;
    ~Win32GlobalHotKeys() override;
    Win32GlobalHotKeys(const Win32GlobalHotKeys&) = delete;
    Win32GlobalHotKeys& operator=(const Win32GlobalHotKeys&) = delete;

    bool registerHotKey(std::uint32_t id, unsigned modifiers, int key) override;
    void unregisterHotKey(std::uint32_t id) override;
    bool decodeActivation(const std::string& eventType, const void* message,
                          std::uint32_t& id) override;

  private:
    std::set<std::uint32_t> registered_;
};

}  // namespace platform
