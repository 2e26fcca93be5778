#include "platform/win32/input_services.h"

#include <atomic>
#include <utility>

#include "platform/win32/native_messages.h"

namespace platform {

namespace {

// Hook procedures carry no context of their own.
std::atomic<Win32MouseHook*> installedHook{nullptr};

constexpr int kQtKeyF1 = 0x01000030;
constexpr int kFunctionKeys = 24;

// The virtual key of a Qt key code, 0 for keys without one here.
UINT virtualKey(int key) {
    if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) {
        return static_cast<UINT>(key);
    }
    if (key >= kQtKeyF1 && key < kQtKeyF1 + kFunctionKeys) {
        return static_cast<UINT>(VK_F1 + (key - kQtKeyF1));
    }
    return 0;
}

UINT modifierFlags(unsigned modifiers) {
    UINT flags = 0;
    if (modifiers & kHotKeyShift) {
        flags |= MOD_SHIFT;
    }
    if (modifiers & kHotKeyControl) {
        flags |= MOD_CONTROL;
    }
    if (modifiers & kHotKeyAlt) {
        flags |= MOD_ALT;
    }
    if (modifiers & kHotKeyMeta) {
        flags |= MOD_WIN;
    }
    return flags;
}

}  // namespace

Win32MouseHook::~Win32MouseHook() {
    remove();
}

bool Win32MouseHook::install(std::function<void(int x, int y)> onLeftButtonUp) {
    remove();
    Win32MouseHook* expected = nullptr;
    if (!installedHook.compare_exchange_strong(expected, this)) {
        return false;
    }
    onLeftButtonUp_ = std::move(onLeftButtonUp);
    hook_ = SetWindowsHookExW(WH_MOUSE_LL, hookProcedure, GetModuleHandleW(nullptr), 0);
    if (hook_ == nullptr) {
        installedHook = nullptr;
        return false;
    }
    return true;
}

void Win32MouseHook::remove() {
    if (hook_ == nullptr) {
        return;
    }
    UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
    installedHook = nullptr;
}

LRESULT CALLBACK Win32MouseHook::hookProcedure(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && wParam == WM_LBUTTONUP) {
        Win32MouseHook* hook = installedHook.load();
        POINT point;
        if (hook != nullptr && hook->onLeftButtonUp_ && GetCursorPos(&point)) {
            hook->onLeftButtonUp_(point.x, point.y);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool Win32Cursor::position(int& x, int& y) {
    POINT point;
    if (!GetCursorPos(&point)) {
        return false;
    }
    x = point.x;
    y = point.y;
    return true;
}

bool Win32Cursor::setPosition(int x, int y) {
    return SetCursorPos(x, y) != FALSE;
}

bool Win32Cursor::typeText(const std::u16string& text) {
    POINT point;
    if (!GetCursorPos(&point)) {
        return false;
    }
    const HWND window = WindowFromPoint(point);
    if (window == nullptr) {
        return false;
    }
    bool posted = true;
    for (const char16_t unit : text) {
        // Repeat count 1, as typed.
        posted = PostMessageW(window, WM_CHAR, unit, 1) && posted;
    }
    return posted;
}

void Win32KeyboardLayout::activateUsEnglish() {
    // The system names layouts by eight hex digits; "0x0409" would name none.
    LoadKeyboardLayoutW(L"00000409", KLF_ACTIVATE | KLF_SETFORPROCESS);
}

void Win32ProcessPriority::raiseToHigh() {
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
}

Win32GlobalHotKeys::~Win32GlobalHotKeys() {
    for (const std::uint32_t id : registered_) {
        UnregisterHotKey(nullptr, static_cast<int>(id));
    }
}

bool Win32GlobalHotKeys::registerHotKey(std::uint32_t id, unsigned modifiers, int key) {
    const UINT virtualKeyCode = virtualKey(key);
    if (virtualKeyCode == 0) {
        return false;
    }
    // A new key for an id replaces the old one.
    unregisterHotKey(id);
    if (!RegisterHotKey(nullptr, static_cast<int>(id), modifierFlags(modifiers), virtualKeyCode)) {
        return false;
    }
    registered_.insert(id);
    return true;
}

void Win32GlobalHotKeys::unregisterHotKey(std::uint32_t id) {
    if (registered_.erase(id) != 0) {
        UnregisterHotKey(nullptr, static_cast<int>(id));
    }
}

bool Win32GlobalHotKeys::decodeActivation(const std::string& eventType, const void* message,
                                          std::uint32_t& id) {
    const MSG* msg = win32::qtWindowsMessage(eventType, message);
    if (msg == nullptr || msg->message != WM_HOTKEY || msg->hwnd != nullptr) {
        return false;
    }
    const auto activated = static_cast<std::uint32_t>(msg->wParam);
    if (registered_.count(activated) == 0) {
        return false;
    }
    id = activated;
    return true;
}

}  // namespace platform
