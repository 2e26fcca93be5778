// The Chromium switches the QtWebEngine backend adds to the environment's.

#include <gtest/gtest.h>

#include "webhost/engine/qtwebengine/qt_engine.h"

namespace {

TEST(EngineFlags, NoZygoteWithoutTheSandboxNoGpuInSoftwareEachOnce) {
    const struct {
        QByteArray given;
        bool noSandbox;
        bool software;
        QByteArray flags;
    } cases[] = {
        {"", false, false, ""},
        {"", true, false, "--no-zygote"},
        {"", true, true, "--no-zygote --disable-gpu"},
        {"--lang=en", false, true, "--lang=en --disable-gpu"},
        {"--disable-gpu --no-zygote", true, true, "--disable-gpu --no-zygote"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(engine::chromiumFlags(c.given, c.noSandbox, c.software).toStdString(),
                  c.flags.toStdString());
}

}  // namespace
