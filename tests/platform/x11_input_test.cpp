// The X11 pointer, mouse hook and hot keys against a real X server (the test runs under
// xvfb-run), with input made through the XTEST extension as a user's would be.

#include <gtest/gtest.h>

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <functional>
#include <string>
#include <vector>

#include "platform/linux/x11_input.h"

// After Qt: the X headers' macros would clash with its names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

namespace {

constexpr int kQtKeyF5 = 0x01000034;

bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

void pump(int milliseconds) {
    waitFor([] { return false; }, milliseconds);
}

int grabErrors = 0;
int countError(Display*, XErrorEvent*) {
    ++grabErrors;
    return 0;
}

// A second client of the same display: makes input, owns windows and grabs of its own.
class X11InputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!QX11InfoAvailable())
            GTEST_SKIP() << "no X display";
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
    }
    void TearDown() override {
        if (display)
            XCloseDisplay(display);
    }

    static bool QX11InfoAvailable() { return QGuiApplication::platformName() == "xcb"; }

    void click(int button) {
        XTestFakeButtonEvent(display, static_cast<unsigned>(button), True, CurrentTime);
        XTestFakeButtonEvent(display, static_cast<unsigned>(button), False, CurrentTime);
        XFlush(display);
    }

    void key(KeySym keysym, bool press) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), press, CurrentTime);
        XFlush(display);
    }

    // Whether this client could grab the key itself (it cannot while another holds it).
    bool canGrab(KeySym keysym, unsigned modifiers) {
        XSync(display, False);
        grabErrors = 0;
        XErrorHandler previous = XSetErrorHandler(countError);
        const KeyCode keycode = XKeysymToKeycode(display, keysym);
        XGrabKey(display, keycode, modifiers, DefaultRootWindow(display), True, GrabModeAsync,
                 GrabModeAsync);
        XSync(display, False);
        const bool grabbed = grabErrors == 0;
        if (grabbed)
            XUngrabKey(display, keycode, modifiers, DefaultRootWindow(display));
        XSync(display, False);
        XSetErrorHandler(previous);
        return grabbed;
    }

    Display* display = nullptr;
};

TEST_F(X11InputTest, TheCursorMovesAndReadsThePointer) {
    auto cursor = platform::X11Cursor::create();
    ASSERT_TRUE(cursor);
    ASSERT_TRUE(cursor->setPosition(100, 120));
    int x = 0, y = 0;
    ASSERT_TRUE(cursor->position(x, y));
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 120);
    // Another client sees the same pointer.
    Window root, child;
    int rootX = 0, rootY = 0, windowX, windowY;
    unsigned mask;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &windowX,
                  &windowY, &mask);
    EXPECT_EQ(rootX, 100);
    EXPECT_EQ(rootY, 120);
}

TEST_F(X11InputTest, TextIsTypedIntoTheWindowUnderThePointer) {
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 50, 50, 200, 200, 0, 0, 0);
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask);
    XMapWindow(display, window);
    XEvent event;
    do {
        XNextEvent(display, &event);
    } while (event.type != MapNotify);

    auto cursor = platform::X11Cursor::create();
    ASSERT_TRUE(cursor);
    ASSERT_TRUE(cursor->setPosition(500, 500));
    EXPECT_FALSE(cursor->typeText(u"x"));  // nothing but the root there

    ASSERT_TRUE(cursor->setPosition(120, 130));
    // "\u4e2d" is on no key of the map and is left out.
    ASSERT_TRUE(cursor->typeText(u"aB1\u4e2d\n"));
    std::string typed;
    XSync(display, False);
    while (XPending(display) > 0) {
        XNextEvent(display, &event);
        if (event.type != KeyPress)
            continue;
        EXPECT_EQ(event.xkey.window, window);
        char text[8] = {};
        const int length = XLookupString(&event.xkey, text, sizeof text, nullptr, nullptr);
        typed.append(text, static_cast<std::size_t>(length));
    }
    EXPECT_EQ(typed, "aB1\r");
    XDestroyWindow(display, window);
}

TEST_F(X11InputTest, TheHookReportsLeftReleasesWhereverThePointerIs) {
    auto hook = platform::X11MouseHook::create();
    ASSERT_TRUE(hook);
    std::vector<std::pair<int, int>> releases;
    bool onMainThread = true;
    ASSERT_TRUE(hook->install([&](int x, int y) {
        releases.emplace_back(x, y);
        onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
    }));
    XTestFakeMotionEvent(display, -1, 300, 200, CurrentTime);
    click(3);
    click(1);
    XTestFakeMotionEvent(display, -1, 40, 60, CurrentTime);
    click(1);
    ASSERT_TRUE(waitFor([&] { return releases.size() >= 2; }));
    pump(100);
    EXPECT_EQ(releases, (std::vector<std::pair<int, int>>{{300, 200}, {40, 60}}));
    EXPECT_TRUE(onMainThread);

    hook->remove();
    click(1);
    pump(300);
    EXPECT_EQ(releases.size(), 2u);

    // A callback may end the recording itself.
    int calls = 0;
    ASSERT_TRUE(hook->install([&](int, int) {
        ++calls;
        hook->remove();
    }));
    click(1);
    click(1);
    ASSERT_TRUE(waitFor([&] { return calls > 0; }));
    pump(300);
    EXPECT_EQ(calls, 1);
}

class Activations : public QAbstractNativeEventFilter {
  public:
    explicit Activations(platform::GlobalHotKeys& hotKeys) : hotKeys_(hotKeys) {}
    bool nativeEventFilter(const QByteArray& eventType, void* message, long*) override {
        std::uint32_t id = 0;
        if (hotKeys_.decodeActivation(eventType.toStdString(), message, id))
            ids.push_back(id);
        return false;
    }
    std::vector<std::uint32_t> ids;

  private:
    platform::GlobalHotKeys& hotKeys_;
};

TEST_F(X11InputTest, HotKeysAreGrabbedOnQtsConnectionAndReachItsEventFilter) {
    platform::X11GlobalHotKeys hotKeys;
    Activations activations(hotKeys);
    qApp->installNativeEventFilter(&activations);

    ASSERT_TRUE(
        hotKeys.registerHotKey(7, platform::kHotKeyControl | platform::kHotKeyShift, kQtKeyF5));
    EXPECT_FALSE(canGrab(XK_F5, ControlMask | ShiftMask));
    EXPECT_FALSE(canGrab(XK_F5, ControlMask | ShiftMask | LockMask));
    EXPECT_TRUE(canGrab(XK_F5, ControlMask));
    // The same keys under another id are refused.
    EXPECT_FALSE(
        hotKeys.registerHotKey(8, platform::kHotKeyControl | platform::kHotKeyShift, kQtKeyF5));
    EXPECT_FALSE(hotKeys.registerHotKey(9, 0, 0x01001000));  // no key Qt names so
    // A new key for an id replaces its old one.
    ASSERT_TRUE(hotKeys.registerHotKey(11, platform::kHotKeyAlt, 'W'));
    EXPECT_FALSE(canGrab(XK_w, Mod1Mask));
    ASSERT_TRUE(hotKeys.registerHotKey(11, platform::kHotKeyAlt, 'E'));
    EXPECT_TRUE(canGrab(XK_w, Mod1Mask));
    EXPECT_FALSE(canGrab(XK_e, Mod1Mask));
    hotKeys.unregisterHotKey(11);
    EXPECT_TRUE(canGrab(XK_e, Mod1Mask));

    key(XK_Control_L, true);
    key(XK_Shift_L, true);
    key(XK_F5, true);
    key(XK_F5, false);
    key(XK_Shift_L, false);
    key(XK_F5, true);  // Control alone: not ours
    key(XK_F5, false);
    key(XK_Control_L, false);
    ASSERT_TRUE(waitFor([&] { return !activations.ids.empty(); }));
    pump(200);
    EXPECT_EQ(activations.ids, std::vector<std::uint32_t>{7});

    hotKeys.unregisterHotKey(7);
    EXPECT_TRUE(canGrab(XK_F5, ControlMask | ShiftMask));

    // Keys another client holds cannot be had, and leave nothing grabbed behind.
    const KeyCode q = XKeysymToKeycode(display, XK_q);
    XGrabKey(display, q, Mod1Mask | Mod2Mask, DefaultRootWindow(display), True, GrabModeAsync,
             GrabModeAsync);
    XSync(display, False);
    EXPECT_FALSE(hotKeys.registerHotKey(10, platform::kHotKeyAlt, 'Q'));
    XUngrabKey(display, q, Mod1Mask | Mod2Mask, DefaultRootWindow(display));
    XSync(display, False);
    EXPECT_TRUE(canGrab(XK_q, Mod1Mask));
    ASSERT_TRUE(hotKeys.registerHotKey(10, platform::kHotKeyAlt, 'Q'));

    // Caps Lock and Num Lock aside, the modifiers must match.
    xcb_key_press_event_t press = {};
    press.response_type = XCB_KEY_PRESS;
    press.detail = static_cast<xcb_keycode_t>(q);
    press.event = static_cast<xcb_window_t>(DefaultRootWindow(display));
    press.state = XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;
    std::uint32_t id = 0;
    EXPECT_TRUE(hotKeys.decodeActivation("xcb_generic_event_t", &press, id));
    EXPECT_EQ(id, 10u);
    press.state = XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT;
    EXPECT_FALSE(hotKeys.decodeActivation("xcb_generic_event_t", &press, id));
    press.state = XCB_MOD_MASK_1;
    EXPECT_FALSE(hotKeys.decodeActivation("windows_generic_MSG", &press, id));
    press.response_type = XCB_KEY_RELEASE;
    EXPECT_FALSE(hotKeys.decodeActivation("xcb_generic_event_t", &press, id));

    qApp->removeNativeEventFilter(&activations);
}

}  // namespace

int main(int argc, char** argv) {
    // Without a display the tests skip; with one Qt must use it, whatever the environment says.
    if (qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    else
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
