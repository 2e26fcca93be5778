#include "macro/virtual_hid_client.h"

pvmulti_client::pvmulti_client(std::unique_ptr<platform::VirtualHidClient> device)
    : device_(std::move(device)) {}

bool pvmulti_client::open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_ && device_->open();
}

void pvmulti_client::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (device_)
        device_->close();
}

bool pvmulti_client::sendKeyboardReport(quint8 shift, const quint8 keys[6]) {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_ && device_->sendKeyboardReport(shift, keys);
}

bool pvmulti_client::sendRelativeMouseReport(quint8 buttons, qint8 x, qint8 y, qint8 wheel) {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_ && device_->sendRelativeMouseReport(buttons, x, y, wheel);
}

bool pvmulti_client::releaseAllKeys() {
    const quint8 none[6] = {0, 0, 0, 0, 0, 0};
    return sendKeyboardReport(0, none);
}
