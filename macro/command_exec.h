#pragma once

#include <QList>
#include <QMap>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "macro/macro_types.h"

class QThread;
class pvmulti_client;

namespace platform {
class Cursor;
}

// Plays macro tasks on a thread of its own: the first task starts with the thread, later
// ones are handed over with executeCommand. A newer task or a stop ends the running one
// between two actions (or during a delay).
class commandExec : public QObject {
    Q_OBJECT
  public:
    commandExec(QThread* thread, const QList<MacroAction>& actions, pvmulti_client* client,
                int playType, int playCount, int keyState, platform::Cursor* cursor);
    ~commandExec() override;

    // Ends the loop after its current run; any thread.
    void quit();
    // Stops the running task; any thread.
    void setStopFlag();

    // Delay used for `milliseconds`: unchanged below 10, else varied by up to 9 either way
    // (never beyond the largest int).
    static int variedDelay(int milliseconds);
    // The same at the time of day `msecsSinceStartOfDay`, which picks the variation.
    static int variedDelay(int milliseconds, int msecsSinceStartOfDay);

  signals:
    void taskFinished(pvmulti_client* m_vmultia);

  public slots:
    void start();
    // Hands a task over; called directly from the requesting thread.
    void executeCommand(pvmulti_client* client, const QList<MacroAction>& actions, int playType,
                        int playCount, int keyState);
    void onStopOutput();

  private:
    struct Task {
        QList<MacroAction> actions;
        pvmulti_client* client = nullptr;
        int playType = 0;
        int playCount = 0;
        int keyState = 0;
    };

    void runTask(const Task& task);
    bool playOnce(const Task& task);
    void execute(const Task& task, const MacroAction& action);
    bool interrupted() const;
    // Ends output of `client`: empty keyboard and mouse reports. `setStop` also raises the
    // stop flag, as an explicit stop does.
    void stopOutput(pvmulti_client* client, bool setStop);
    void sleepFor(int milliseconds);
    void keyboard(const Task& task, quint8 shift, quint8 key);
    void mouse(const Task& task, quint8 buttons, qint8 wheel = 0);

    // Standard primitives, which the thread sanitizer sees (Debian's Qt is not instrumented).
    std::mutex mutex_;  // guards task_ and the hand-over; the condition's mutex
    std::condition_variable wakeUp_;
    Task task_;
    std::atomic<bool> pending_{false};  // a handed-over task waits
    std::atomic<bool> stop_{false};
    std::atomic<bool> quit_{false};
    const QMap<int, int> modifierBits_;
    platform::Cursor* cursor_;
};
