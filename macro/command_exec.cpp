#include "macro/command_exec.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QThread>
#include <QTime>
#include <QUrl>

#include <chrono>
#include <limits>
#include <random>

#include "base/engine_log.h"
#include "macro/virtual_hid_client.h"
#include "platform/input_hooks.h"

namespace {

QMap<int, int> modifierTable() {
    QMap<int, int> table;
    for (int n = 0; n < 8; ++n)
        table.insert(0xE0 + n, 1 << n);
    return table;
}

int hex(const QString& text) {
    return text.toInt(nullptr, 16);
}

bool releasesOnKeyUp(const QList<MacroAction>& actions) {
    if (actions.isEmpty())
        return false;
    const QString& first = actions.first().type;
    return first == QLatin1String("mouse") || first == QLatin1String("keybroad");
}

}  // namespace

commandExec::commandExec(QThread* thread, const QList<MacroAction>& actions, pvmulti_client* client,
                         int playType, int playCount, int keyState, platform::Cursor* cursor)
    : modifierBits_(modifierTable()), cursor_(cursor) {
    task_ = {actions, client, playType, playCount, keyState};
    moveToThread(thread);
    connect(thread, &QThread::started, this, &commandExec::start);
}

commandExec::~commandExec() {
    quit();
}

void commandExec::quit() {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    wakeUp_.notify_all();
}

void commandExec::setStopFlag() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    wakeUp_.notify_all();
}

void commandExec::onStopOutput() {
    setStopFlag();
}

int commandExec::variedDelay(int milliseconds) {
    return variedDelay(milliseconds, QTime::currentTime().msecsSinceStartOfDay());
}

int commandExec::variedDelay(int milliseconds, int msecsSinceStartOfDay) {
    if (milliseconds < 10)
        return milliseconds;
    std::minstd_rand random(static_cast<unsigned>(msecsSinceStartOfDay / 1000));
    const int r = static_cast<int>(random() % 10);
    if (msecsSinceStartOfDay % 2)
        return milliseconds - r;
    // A page may ask for the longest delay there is; it is not turned into a negative one.
    return milliseconds > std::numeric_limits<int>::max() - r ? std::numeric_limits<int>::max()
                                                              : milliseconds + r;
}

void commandExec::start() {
    ENGINE_LOG_INFO(QStringLiteral("start PASS....."));
    for (;;) {
        Task task;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            task = task_;
            pending_ = false;
        }
        runTask(task);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // A task handed over during the run keeps its own stop state.
            if (!pending_)
                stop_ = true;
        }
        emit taskFinished(task.client);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wakeUp_.wait(lock, [this] { return pending_ || quit_; });
        }
        ENGINE_LOG_INFO(QStringLiteral("WAIT PASS....."));
        if (quit_)
            break;
    }
}

void commandExec::executeCommand(pvmulti_client* client, const QList<MacroAction>& actions,
                                 int playType, int playCount, int keyState) {
    if (playType == 0 && keyState == 1 && !releasesOnKeyUp(actions))
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    pvmulti_client* previous = task_.client;
    task_ = {actions, client, playType, playCount, keyState};
    if (!stop_)
        stopOutput(previous, true);
    stop_ = false;
    pending_ = true;
    wakeUp_.notify_all();
}

void commandExec::runTask(const Task& task) {
    if (task.actions.isEmpty())
        return;
    if (!task.client) {
        ENGINE_LOG_INFO(
            QStringLiteral("Application Error: a macro was started without a "
                           "virtual HID client, nothing played"));
        return;
    }
    switch (task.playType) {
        case 1:
            while (!interrupted()) {
                if (!playOnce(task))
                    return;
                sleepFor(10);
            }
            stopOutput(task.client, stop_);
            return;
        case 0:
            if (task.keyState == 1) {
                if (releasesOnKeyUp(task.actions))
                    playOnce(task);
                return;
            }
            [[fallthrough]];
        case 2:
            for (int i = 0; i < task.playCount; ++i) {
                if (interrupted()) {
                    stopOutput(task.client, stop_);
                    return;
                }
                if (!playOnce(task))
                    return;
            }
            return;
        default:
            return;
    }
}

bool commandExec::playOnce(const Task& task) {
    for (const MacroAction& action : task.actions) {
        if (interrupted()) {
            // A newer task ends this one without stopping itself.
            stopOutput(task.client, stop_);
            return false;
        }
        execute(task, action);
    }
    return true;
}

bool commandExec::interrupted() const {
    return stop_ || pending_ || quit_;
}

void commandExec::stopOutput(pvmulti_client* client, bool setStop) {
    if (setStop)
        stop_ = true;
    if (client) {
        const quint8 none[6] = {0, 0, 0, 0, 0, 0};
        client->sendKeyboardReport(0, none);
        client->sendRelativeMouseReport(0, 0, 0, 0);
    }
    ENGINE_LOG_INFO(QStringLiteral("stopOutputNow==========================="));
}

void commandExec::sleepFor(int milliseconds) {
    if (milliseconds <= 0)
        return;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(mutex_);
    wakeUp_.wait_until(lock, deadline, [this] { return interrupted(); });
}

void commandExec::keyboard(const Task& task, quint8 shift, quint8 key) {
    const quint8 keys[6] = {key, 0, 0, 0, 0, 0};
    task.client->sendKeyboardReport(shift, keys);
}

void commandExec::mouse(const Task& task, quint8 buttons, qint8 wheel) {
    task.client->sendRelativeMouseReport(buttons, 0, 0, wheel);
}

void commandExec::execute(const Task& task, const MacroAction& action) {
    const QString& type = action.type;
    if (type == QLatin1String("down")) {
        keyboard(task, 0, static_cast<quint8>(hex(action.value)));
    } else if (type == QLatin1String("up")) {
        keyboard(task, 0, 0);
    } else if (type == QLatin1String("delayTime")) {
        sleepFor(variedDelay(action.value.toInt()));
    } else if (type == QLatin1String("mouseDown")) {
        mouse(task, static_cast<quint8>(hex(action.value)));
    } else if (type == QLatin1String("mouseUp")) {
        mouse(task, 0);
    } else if (type == QLatin1String("mouseMove")) {
        const int comma = action.value.indexOf(QLatin1Char(','));
        const QString x = comma < 0 ? action.value : action.value.left(comma);
        const QString y = comma < 0 ? action.value : action.value.mid(comma + 1);
        if (cursor_)
            cursor_->setPosition(x.trimmed().toInt(), y.trimmed().toInt());
    } else if (type == QLatin1String("mouseWheel")) {
        mouse(task, 0, static_cast<qint8>(hex(action.value) & 0xFF));
    } else if (type == QLatin1String("shortcut")) {
        const QUrl url(QStringLiteral("file:///") + action.value);
        // The desktop's handlers belong to the GUI thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [url] { QDesktopServices::openUrl(url); },
            Qt::QueuedConnection);
    } else if (type == QLatin1String("hotKey")) {
        const QStringList parts = action.value.split(QLatin1Char(','));
        if (parts.size() != 2)
            return;
        const quint8 shift = static_cast<quint8>(modifierBits_.value(hex(parts.at(0)) & 0xFF, 0));
        const quint8 key = static_cast<quint8>(hex(parts.at(1)));
        keyboard(task, shift, key);
        sleepFor(variedDelay(50));
        keyboard(task, shift, 0);
        sleepFor(variedDelay(50));
        keyboard(task, 0, 0);
    } else if (type == QLatin1String("keybroad") || type == QLatin1String("mouse")) {
        const bool isKey = type == QLatin1String("keybroad");
        const quint8 code = static_cast<quint8>(hex(action.value));
        auto press = [&](quint8 value) {
            if (isKey)
                keyboard(task, 0, value);
            else
                mouse(task, value);
        };
        if (task.playType == 0) {
            press(task.keyState == 0 ? code : 0);
        } else {
            press(code);
            sleepFor(variedDelay(50));
            press(0);
        }
    } else if (type == QLatin1String("text")) {
        if (cursor_)
            cursor_->typeText(action.value.toStdU16String());
    }
}
