#pragma once

#include <QAbstractNativeEventFilter>
#include <QApplication>

#include <memory>

#include "platform/native_messages.h"

// Ends the program when the user session ends or the main window is destroyed.
class _PsEventFilter : public QAbstractNativeEventFilter {
  public:
    explicit _PsEventFilter(platform::NativeMessages* messages) : messages_(messages) {}
    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;

  private:
    platform::NativeMessages* messages_;
};

// The application base: owns the native event filter while it is installed.
class PsApplication : public QApplication {
    Q_OBJECT
  public:
    PsApplication(int& argc, char** argv);
    ~PsApplication() override;

  protected:
    // Replaces (and deletes) any earlier filter.
    void installPsEventFilter(std::unique_ptr<_PsEventFilter> filter);

  private:
    std::unique_ptr<_PsEventFilter> eventFilter_;
};
