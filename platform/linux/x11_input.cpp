#include "platform/linux/x11_input.h"

// Qt first: the X headers define macros (None, Bool, Status ...) that Qt's headers use as names.
#include <QByteArray>
#include <QSocketNotifier>
#include <QX11Info>

#include <poll.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <iterator>
#include <utility>

namespace platform {
namespace {

constexpr unsigned kLeftButton = 1;
constexpr unsigned kUnicodeKeysymBase = 0x01000000;

// Keys Qt names by their character or F1 + n.
constexpr int kQtKeyF1 = 0x01000030;
constexpr int kFunctionKeys = 35;

// Caps Lock and Num Lock must not keep a hot key from working: each grab is made in all
// their combinations.
constexpr std::uint16_t kLockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                           XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr std::uint16_t kHotKeyModifierMask =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

KeySym keysymForCharacter(char32_t character) {
    switch (character) {
        case U'\r':
        case U'\n':
            return XK_Return;
        case U'\t':
            return XK_Tab;
        case U'\b':
            return XK_BackSpace;
        default:
            break;
    }
    // Latin-1 keysyms are the characters themselves; the rest of Unicode has a range.
    if ((character >= 0x20 && character <= 0x7E) || (character >= 0xA0 && character <= 0xFF))
        return character;
    return kUnicodeKeysymBase | character;
}

// The window under the pointer, as deep as it goes; None when only the root is there.
Window windowUnderPointer(Display* display) {
    Window root = 0, child = 0, window = DefaultRootWindow(display), deepest = None;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned mask = 0;
    while (XQueryPointer(display, window, &root, &child, &rootX, &rootY, &x, &y, &mask) &&
           child != None) {
        deepest = window = child;
    }
    return deepest;
}

void sendKey(Display* display, Window window, int type, KeyCode keycode, unsigned state) {
    XKeyEvent event = {};
    event.type = type;
    event.display = display;
    event.window = window;
    event.root = DefaultRootWindow(display);
    event.subwindow = None;
    event.time = CurrentTime;
    event.x = event.y = event.x_root = event.y_root = 1;
    event.same_screen = True;
    event.keycode = keycode;
    event.state = state;
    XSendEvent(display, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask,
               reinterpret_cast<XEvent*>(&event));
}

std::uint32_t keysymForQtKey(int key) {
    if (key >= 'A' && key <= 'Z')
        return XK_a + static_cast<std::uint32_t>(key - 'A');
    if (key >= '0' && key <= '9')
        return XK_0 + static_cast<std::uint32_t>(key - '0');
    if (key >= kQtKeyF1 && key < kQtKeyF1 + kFunctionKeys)
        return XK_F1 + static_cast<std::uint32_t>(key - kQtKeyF1);
    return 0;
}

std::uint8_t keycodeFor(xcb_connection_t* connection, std::uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection,
        xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr);
    if (!reply)
        return 0;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perKeycode = reply->keysyms_per_keycode;
    const int length = xcb_get_keyboard_mapping_keysyms_length(reply);
    std::uint8_t found = 0;
    for (int i = 0; i < length && !found; ++i) {
        if (keysyms[i] == keysym && perKeycode > 0)
            found = static_cast<std::uint8_t>(setup->min_keycode + i / perKeycode);
    }
    std::free(reply);
    return found;
}

std::uint16_t xModifiers(unsigned modifiers) {
    std::uint16_t result = 0;
    if (modifiers & kHotKeyShift)
        result |= XCB_MOD_MASK_SHIFT;
    if (modifiers & kHotKeyControl)
        result |= XCB_MOD_MASK_CONTROL;
    if (modifiers & kHotKeyAlt)
        result |= XCB_MOD_MASK_1;
    if (modifiers & kHotKeyMeta)
        result |= XCB_MOD_MASK_4;
    return result;
}

}  // namespace

// ---- Cursor

std::unique_ptr<X11Cursor> X11Cursor::create() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    return std::unique_ptr<X11Cursor>(new X11Cursor(display));
}

X11Cursor::X11Cursor(Display* display) : display_(display) {}

X11Cursor::~X11Cursor() {
    XCloseDisplay(display_);
}

bool X11Cursor::position(int& x, int& y) {
    std::lock_guard<std::mutex> lock(mutex_);
    Window root = 0, child = 0;
    int windowX = 0, windowY = 0;
    unsigned mask = 0;
    return XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &x, &y, &windowX,
                         &windowY, &mask);
}

bool X11Cursor::setPosition(int x, int y) {
    std::lock_guard<std::mutex> lock(mutex_);
    XWarpPointer(display_, None, DefaultRootWindow(display_), 0, 0, 0, 0, x, y);
    XFlush(display_);
    return true;
}

bool X11Cursor::typeText(const std::u16string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Window window = windowUnderPointer(display_);
    if (window == None)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t character = text[i];
        if (character >= 0xD800 && character <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            character = 0x10000 + ((character - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (character >= 0xD800 && character <= 0xDFFF) {
            continue;  // half a pair names no character
        }
        const KeySym keysym = keysymForCharacter(character);
        const KeyCode keycode = XKeysymToKeycode(display_, keysym);
        if (keycode == 0)
            continue;
        unsigned state = 0;
        if (XkbKeycodeToKeysym(display_, keycode, 0, 0) != keysym) {
            if (XkbKeycodeToKeysym(display_, keycode, 0, 1) != keysym)
                continue;  // on a level this plain sending cannot reach
            state = ShiftMask;
        }
        sendKey(display_, window, KeyPress, keycode, state);
        sendKey(display_, window, KeyRelease, keycode, state);
    }
    XFlush(display_);
    return true;
}

// ---- Mouse hook

std::unique_ptr<X11MouseHook> X11MouseHook::create() {
    Display* control = XOpenDisplay(nullptr);
    if (!control)
        return nullptr;
    int major = 0, minor = 0;
    Display* data = XRecordQueryVersion(control, &major, &minor) ? XOpenDisplay(nullptr) : nullptr;
    XRecordRange* range = data ? XRecordAllocRange() : nullptr;
    XRecordContext context = 0;
    if (range) {
        range->device_events.first = ButtonRelease;
        range->device_events.last = ButtonRelease;
        XRecordClientSpec clients = XRecordAllClients;
        context = XRecordCreateContext(control, 0, &clients, 1, &range, 1);
        XFree(range);
    }
    if (!context) {
        if (data)
            XCloseDisplay(data);
        XCloseDisplay(control);
        return nullptr;
    }
    // The recording connection must find the context there.
    XSync(control, False);
    return std::unique_ptr<X11MouseHook>(new X11MouseHook(control, data, context));
}

X11MouseHook::X11MouseHook(Display* control, Display* data, unsigned long context)
    : control_(control), data_(data), context_(context) {}

X11MouseHook::~X11MouseHook() {
    delete notifier_;
    if (recording_)
        XRecordDisableContext(control_, context_);
    XRecordFreeContext(control_, context_);
    XCloseDisplay(data_);
    XCloseDisplay(control_);
}

struct X11MouseHook::Recorder {
    static void intercept(XPointer closure, XRecordInterceptData* data);
};

void X11MouseHook::Recorder::intercept(XPointer closure, XRecordInterceptData* data) {
    auto* hook = reinterpret_cast<X11MouseHook*>(closure);
    if (data->category == XRecordEndOfData) {
        hook->recording_ = false;
    } else if (data->category == XRecordFromServer && data->data &&
               data->data_len * 4 >= sizeof(xEvent)) {
        const auto* event = reinterpret_cast<const xEvent*>(data->data);
        if ((event->u.u.type & 0x7F) == ButtonRelease && event->u.u.detail == kLeftButton)
            hook->releases_.emplace_back(event->u.keyButtonPointer.rootX,
                                         event->u.keyButtonPointer.rootY);
    }
    XRecordFreeData(data);
}

// A recording that was stopped is enabled again only after its end came through.
bool X11MouseHook::awaitEndOfRecording() {
    constexpr int kWaitMs = 1000;
    constexpr int kStepMs = 20;
    for (int waited = 0; recording_ && waited < kWaitMs; waited += kStepMs) {
        XRecordProcessReplies(data_);
        if (!recording_)
            break;
        struct pollfd readable = {ConnectionNumber(data_), POLLIN, 0};
        ::poll(&readable, 1, kStepMs);
    }
    releases_.clear();  // they belong to the stopped recording
    return !recording_;
}

bool X11MouseHook::install(std::function<void(int x, int y)> onLeftButtonUp) {
    remove();
    if (!onLeftButtonUp || !awaitEndOfRecording())
        return false;
    if (!XRecordEnableContextAsync(data_, context_, &Recorder::intercept,
                                   reinterpret_cast<XPointer>(this)))
        return false;
    recording_ = true;
    callback_ = std::move(onLeftButtonUp);
    if (!notifier_) {
        notifier_ = new QSocketNotifier(ConnectionNumber(data_), QSocketNotifier::Read);
        QObject::connect(notifier_, &QSocketNotifier::activated, [this] { deliver(); });
    }
    deliver();  // what came in with the answer to the enabling
    return true;
}

void X11MouseHook::remove() {
    if (!callback_)
        return;
    callback_ = nullptr;
    XRecordDisableContext(control_, context_);
    XSync(control_, False);
}

void X11MouseHook::deliver() {
    XRecordProcessReplies(data_);
    std::vector<std::pair<int, int>> releases;
    releases.swap(releases_);
    for (const auto& [x, y] : releases) {
        if (!callback_)
            return;
        const std::function<void(int, int)> callback = callback_;  // it may remove the hook
        callback(x, y);
    }
}

// ---- Hot keys

X11GlobalHotKeys::~X11GlobalHotKeys() {
    // Without Qt's connection the grabs went with it.
    if (!QX11Info::isPlatformX11())
        return;
    for (const auto& entry : grabs_)
        ungrab(entry.second, static_cast<int>(std::size(kLockVariants)));
    xcb_flush(QX11Info::connection());
}

namespace {

// Waits until the server has handled every request sent so far: a key let go is then free
// for any other client at once, not only once the server gets round to this connection.
void roundTrip(xcb_connection_t* connection) {
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

}  // namespace

void X11GlobalHotKeys::ungrab(const Grab& grab, int variants) {
    xcb_connection_t* connection = QX11Info::connection();
    for (int i = 0; i < variants; ++i) {
        xcb_ungrab_key(connection, grab.keycode,
                       static_cast<xcb_window_t>(QX11Info::appRootWindow()),
                       grab.modifiers | kLockVariants[i]);
    }
}

bool X11GlobalHotKeys::registerHotKey(std::uint32_t id, unsigned modifiers, int key) {
    if (!QX11Info::isPlatformX11())
        return false;
    // A new key for an id replaces the old one.
    unregisterHotKey(id);
    xcb_connection_t* connection = QX11Info::connection();
    const std::uint32_t keysym = keysymForQtKey(key);
    Grab grab;
    grab.keycode = keysym ? keycodeFor(connection, keysym) : 0;
    grab.modifiers = xModifiers(modifiers);
    if (grab.keycode == 0)
        return false;
    // The same combination twice is refused, as by any other client.
    for (const auto& entry : grabs_) {
        if (entry.second.keycode == grab.keycode && entry.second.modifiers == grab.modifiers)
            return false;
    }
    for (int i = 0; i < static_cast<int>(std::size(kLockVariants)); ++i) {
        const xcb_void_cookie_t cookie = xcb_grab_key_checked(
            connection, 1, static_cast<xcb_window_t>(QX11Info::appRootWindow()),
            grab.modifiers | kLockVariants[i], grab.keycode, XCB_GRAB_MODE_ASYNC,
            XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
            // Another client holds it.
            std::free(error);
            ungrab(grab, i);
            roundTrip(connection);
            return false;
        }
    }
    grabs_[id] = grab;
    return true;
}

void X11GlobalHotKeys::unregisterHotKey(std::uint32_t id) {
    const auto found = grabs_.find(id);
    if (found == grabs_.end())
        return;
    if (QX11Info::isPlatformX11()) {
        ungrab(found->second, static_cast<int>(std::size(kLockVariants)));
        roundTrip(QX11Info::connection());
    }
    grabs_.erase(found);
}

bool X11GlobalHotKeys::decodeActivation(const std::string& eventType, const void* message,
                                        std::uint32_t& id) {
    if (eventType != "xcb_generic_event_t" || !message || grabs_.empty())
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_KEY_PRESS)
        return false;
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    if (press->event != static_cast<xcb_window_t>(QX11Info::appRootWindow()))
        return false;
    const std::uint16_t modifiers = press->state & kHotKeyModifierMask;
    for (const auto& entry : grabs_) {
        if (entry.second.keycode == press->detail && entry.second.modifiers == modifiers) {
            id = entry.first;
            return true;
        }
    }
    return false;
}

}  // namespace platform
