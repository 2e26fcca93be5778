#pragma once

#include <QtGlobal>

#include <memory>
#include <mutex>

#include "platform/virtual_hid.h"

// The one virtual HID client of the process (owned by the main window, lent to playback).
// Playback and the main thread both write reports: each report is written whole under the
// client's lock.
class pvmulti_client {
  public:
    explicit pvmulti_client(std::unique_ptr<platform::VirtualHidClient> device);

    bool open();
    void close();
    bool sendKeyboardReport(quint8 shift, const quint8 keys[6]);
    bool sendRelativeMouseReport(quint8 buttons, qint8 x, qint8 y, qint8 wheel);

    // Shift 0 and no keys.
    bool releaseAllKeys();

  private:
    std::mutex mutex_;
    std::unique_ptr<platform::VirtualHidClient> device_;
};
