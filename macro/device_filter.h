#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "device/input_devices.h"
#include "macro/key_map_parser.h"
#include "macro/macro_types.h"
#include "platform/filter_driver.h"

class QThread;

namespace platform {
class ProcessPriority;
}

// Captures the strokes of the mice through the filter driver and turns the buttons and keys
// that a device's virtual key map configures into macro tasks; every other stroke is passed
// on unchanged. Its loop runs on a thread of its own; the key maps are changed from the GUI
// thread.
class DEVICE_FILTER : public QObject {
    Q_OBJECT
  public:
    // What the filter asks of playback; called on the filter thread.
    class Playback {
      public:
        virtual ~Playback() = default;
        virtual void startFilterTask(const MacroTask& task, int keyState) = 0;
        virtual void stopPlayback() = 0;
    };

    struct Sources {
        platform::FilterDriver* driver = nullptr;
        platform::ProcessPriority* priority = nullptr;
        Playback* playback = nullptr;
        // The present mice and keyboards, as last scanned; any thread.
        std::function<InputDeviceLists()> inputDevices;
        // A key-map file's text by its path below the application folder; GUI thread.
        std::function<QString(const QString& path)> keyMapText;
        KeyCodeLookup hidCodeForKey;
    };

    DEVICE_FILTER(QThread* thread, Sources sources);
    ~DEVICE_FILTER() override;

    // GUI thread.
    bool loadKeyMap(const QString& virtualXmlPath, const QString& deviceId);
    bool dropKeyMap(const QString& deviceId);
    // The points a "MOUSEMOVE" trigger of key maps loaded later plays back.
    void setRecordedPoints(const RecordedPoints& points);

    // Any thread: ends the loop, also while it waits for a stroke.
    void stop();

    // What the loop does with one stroke of `device`: true when it is consumed (a task may
    // have been started or stopped), false when it is to be passed on. Filter thread.
    bool handleStroke(int device, const platform::Stroke& stroke, const QString& hardwareId);

  public slots:
    void start();

  private:
    // The key map of the device with this hardware id, empty when it has none.
    DeviceKeyMap keyMapFor(const QString& hardwareId) const;
    void press(const TriggerKey& key, const MacroTask& task);
    void release(const TriggerKey& key, const MacroTask& task);

    Sources sources_;
    mutable std::mutex keyMapsMutex_;  // keyMaps_, points_
    QList<QPair<QString, DeviceKeyMap>> keyMaps_;
    RecordedPoints points_;
    QList<TriggerKey> pressed_;  // filter thread only
    std::atomic<bool> stop_{false};
    std::mutex contextMutex_;  // context_, so stop() can wake the loop
    std::unique_ptr<platform::FilterContext> context_;
};
