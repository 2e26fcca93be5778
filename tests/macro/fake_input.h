#pragma once

// Recording stand-ins for the platform services of the macro engine.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>
#include <mutex>

#include "platform/filter_driver.h"
#include "platform/input_hooks.h"
#include "platform/mouse_settings.h"
#include "platform/virtual_hid.h"

namespace fake {

// Records every report with the time it was written.
class VirtualHidDevice : public platform::VirtualHidClient {
  public:
    struct Report {
        qint64 atMs;
        platform::ControlReport bytes;
    };

    VirtualHidDevice() {
        clock_.start();
        buffer_.fill(0xEE);
    }

    bool open() override { return opens; }
    void close() override {}
    bool sendKeyboardReport(std::uint8_t shift, const std::uint8_t keys[6]) override {
        platform::fillKeyboardReport(buffer_, shift, keys);
        return record();
    }
    bool sendRelativeMouseReport(std::uint8_t buttons, std::int8_t x, std::int8_t y,
                                 std::int8_t wheel) override {
        platform::fillRelativeMouseReport(buffer_, buttons, x, y, wheel);
        return record();
    }

    QList<Report> reports() const {
        std::unique_lock<std::mutex> lock(mutex_);
        return QList<Report>(reports_.begin(), reports_.end());
    }
    int count() const { return reports().size(); }
    void clear() {
        std::unique_lock<std::mutex> lock(mutex_);
        reports_.clear();
    }

    bool opens = true;

  private:
    bool record() {
        std::unique_lock<std::mutex> lock(mutex_);
        reports_.push_back({clock_.elapsed(), buffer_});
        return true;
    }

    mutable std::mutex mutex_;
    QElapsedTimer clock_;
    platform::ControlReport buffer_;
    // A standard container: a shared Qt list grows inside Qt's uninstrumented code.
    std::vector<Report> reports_;
};

// A keyboard report's shift byte and first key, or -1 for a mouse report.
inline std::pair<int, int> keyboardOf(const platform::ControlReport& report) {
    if (report[2] != 0x07)
        return {-1, -1};
    return {report[3], report[5]};
}

inline bool isMouseReport(const platform::ControlReport& report, int buttons, int wheel = 0) {
    return report[2] == 0x04 && report[3] == buttons && report[6] == std::uint8_t(wheel);
}

class Cursor : public platform::Cursor {
  public:
    bool position(int& x, int& y) override {
        x = x_;
        y = y_;
        return true;
    }
    bool setPosition(int x, int y) override {
        x_ = x;
        y_ = y;
        return true;
    }
    bool typeText(const std::u16string& text) override {
        typed += QString::fromStdU16String(text);
        return true;
    }
    int x_ = 0;
    int y_ = 0;
    QString typed;
};

// A filter driver fed by the test, recording what is passed on.
class FilterContext : public platform::FilterContext {
  public:
    struct Fed {
        int device;
        platform::Stroke stroke;
    };

    void feed(int device, const platform::Stroke& stroke) {
        std::unique_lock<std::mutex> lock(mutex_);
        queue_.push_back({device, stroke});
        arrived_.notify_all();
    }
    void setHardwareId(int device, const std::u16string& id) {
        std::unique_lock<std::mutex> lock(mutex_);
        ids_[size_t(device)] = id;
    }

    void setStrokeFilter(const std::function<bool(int)>& predicate, std::uint16_t mask) override {
        std::unique_lock<std::mutex> lock(mutex_);
        for (int d = 1; d <= platform::kFilterDeviceCount; ++d) {
            if (predicate(d))
                filtered.push_back({d, mask});
        }
    }
    int waitForStroke() override {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait(lock, [this] { return !queue_.empty() || woken_; });
        if (queue_.empty())
            return 1;
        current_ = queue_.front();
        return current_.device;
    }
    int sendStrokes(int device, const platform::Stroke* strokes, int count) override {
        std::unique_lock<std::mutex> lock(mutex_);
        for (int i = 0; i < count; ++i)
            passed.push_back({device, strokes[i]});
        passedChanged_.notify_all();
        return count;
    }
    int receiveStrokes(int device, platform::Stroke* strokes, int capacity) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (queue_.empty() || capacity < 1 || queue_.front().device != device)
            return 0;
        strokes[0] = queue_.front().stroke;
        queue_.pop_front();
        ++handled_;
        passedChanged_.notify_all();
        return 1;
    }
    std::size_t readHardwareId(int device, void* buffer, std::size_t size) override {
        std::unique_lock<std::mutex> lock(mutex_);
        const std::u16string& id = ids_[size_t(device)];
        const std::size_t bytes = std::min(size, (id.size() + 1) * sizeof(char16_t));
        std::memcpy(buffer, id.c_str(), bytes);
        return bytes;
    }
    void wake() override {
        std::unique_lock<std::mutex> lock(mutex_);
        woken_ = true;
        arrived_.notify_all();
    }

    // Waits until `strokes` fed strokes were taken by the filter and decided on.
    bool waitHandled(int strokes) {
        std::unique_lock<std::mutex> lock(mutex_);
        return passedChanged_.wait_for(lock, std::chrono::seconds(3),
                                       [&] { return handled_ >= strokes; });
    }
    QList<Fed> passedStrokes() {
        std::unique_lock<std::mutex> lock(mutex_);
        return QList<Fed>(passed.begin(), passed.end());
    }

    std::vector<std::pair<int, std::uint16_t>> filtered;

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::condition_variable passedChanged_;
    std::deque<Fed> queue_;
    Fed current_{0, {}};
    std::vector<Fed> passed;
    std::array<std::u16string, 21> ids_;
    bool woken_ = false;
    int handled_ = 0;
};

class FilterDriver : public platform::FilterDriver {
  public:
    explicit FilterDriver(FilterContext* context) : context_(context) {}
    std::unique_ptr<platform::FilterContext> open() override {
        ++opens;
        if (!context_)
            return nullptr;
        // The test keeps the context; the filter gets a forwarding handle.
        struct Handle : platform::FilterContext {
            explicit Handle(FilterContext* c) : c(c) {}
            void setStrokeFilter(const std::function<bool(int)>& p, std::uint16_t m) override {
                c->setStrokeFilter(p, m);
            }
            int waitForStroke() override { return c->waitForStroke(); }
            int sendStrokes(int d, const platform::Stroke* s, int n) override {
                return c->sendStrokes(d, s, n);
            }
            int receiveStrokes(int d, platform::Stroke* s, int n) override {
                return c->receiveStrokes(d, s, n);
            }
            std::size_t readHardwareId(int d, void* b, std::size_t n) override {
                return c->readHardwareId(d, b, n);
            }
            void wake() override { c->wake(); }
            FilterContext* c;
        };
        return std::make_unique<Handle>(context_);
    }
    std::atomic<int> opens{0};

  private:
    FilterContext* context_;
};

inline platform::Stroke mouseStroke(std::uint16_t state) {
    platform::Stroke stroke;
    stroke.mouse.state = state;
    return stroke;
}

inline platform::Stroke keyStroke(std::uint16_t code, std::uint16_t state) {
    platform::Stroke stroke;
    stroke.key = platform::KeyStroke{code, state, 0};
    return stroke;
}

}  // namespace fake
