#pragma once

// macro/: the macro and input engine. This file's MacroEngine owns the one virtual HID client
// of the process, software playback on a thread of its own and the input filter on another;
// beside it the action texts and key maps, the click recorder and global shortcuts. The window
// hands it what it needs and forwards its slots here. May use device/, platform/ and base/.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

#include "device/input_devices.h"
#include "macro/device_filter.h"
#include "macro/key_map_parser.h"

class QThread;
class commandExec;
class pvmulti_client;

namespace platform {
struct Services;
}

class MacroEngine : public QObject, private DEVICE_FILTER::Playback {
    Q_OBJECT
  public:
    struct Sources {
        platform::Services* services = nullptr;  // null: no virtual device, no filter driver
        // The present mice and keyboards, as last scanned; any thread.
        std::function<InputDeviceLists()> inputDevices;
        // A key-map file's text by its path below the application folder; GUI thread.
        std::function<QString(const QString& path)> keyMapText;
        KeyCodeLookup hidCodeForKey;
    };

    explicit MacroEngine(Sources sources, QObject* parent = nullptr);
    // Stops the filter and playback and lets go of the virtual device.
    ~MacroEngine() override;

    // Opens the virtual device; a failed attempt is retried only after disconnectVMulti.
    void connectVMulti();
    void disconnectVMulti();
    bool virtualDeviceConnected() const { return virtualDeviceConnected_; }

    // Plays an action text once, replacing what plays now.
    void playActions(const QString& actions);
    // Releases every key once a task has ended.
    void onTaskFinished();

    // (Re)starts the input filter on a thread of its own; playback starts afresh.
    void startInputFilter();
    // Null before the filter has started.
    DEVICE_FILTER* deviceFilter() const { return filter_.get(); }

  signals:
    // Asks the playback worker to end its output.
    void stopOutput(bool stop);

  private:
    // DEVICE_FILTER::Playback, called on the filter thread.
    void startFilterTask(const MacroTask& task, int keyState) override;
    void stopPlayback() override;

    // Under playbackMutex_: the worker and its thread, with a first task.
    void createPlayback(const MacroTask& task, int keyState, bool connectStop);
    void endPlayback();
    void endInputFilter();

    Sources sources_;
    bool virtualDeviceConnected_ = false;
    std::unique_ptr<pvmulti_client> vmulti_;
    // The playback thread and worker: the filter thread starts tasks too.
    std::mutex playbackMutex_;
    std::unique_ptr<QThread> playbackThread_;
    std::unique_ptr<commandExec> playbackWorker_;
    std::unique_ptr<QThread> filterThread_;
    std::unique_ptr<DEVICE_FILTER> filter_;
};
