#include <QGuiApplication>

#include <gtest/gtest.h>

// The engine runs Qt threads and queued signals: a Qt application must exist.
int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
