#pragma once

// device/: the device library binding, device discovery and hot-plug, the parameter protocol
// (device_functions.h), the VM100 property table and the system mouse settings in levels.
// May use platform/, storage/ and base/.

#include <QByteArray>
#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

#include "device/dc_api.h"
#include "device/dc_library.h"
#include "device/input_devices.h"

namespace platform {
class DeviceEnumeration;
}

// One attached device as the device library lists it.
struct Device_Record {
    Q_GADGET
  public:
    QByteArray name;
    QByteArray sn;
    QByteArray version;
    QString deviceId;
    QString devicePath;
    QByteArray mask;
};
Q_DECLARE_METATYPE(Device_Record)

// Finds the attached devices through the device library and passes its device events and data
// reports on. Every instance loads the library and registers for its device events.
class devices_handler : public QObject {
    Q_OBJECT

  public:
    // Loads the library from `libraryFolder`, or from the application folder when empty.
    explicit devices_handler(const QString& libraryFolder = QString(), QObject* parent = nullptr);
    ~devices_handler() override;

    // The library's device list; all zero when the library or its dcDevices is missing. When it
    // lists a device, the data callback is registered for the first one.
    dc::DeviceListBlock listDevices();
    // The page's device list: the listed devices whose id names a VID_ and a PID_.
    QJsonArray getDevicesList();
    // The page's device list of a block as the library filled it.
    static QJsonArray pageDeviceList(const dc::DeviceListBlock& block);

    void setKnownKeys(const QStringList& keys);
    QStringList knownKeys() const;

    // The system's device walk, not owned; it must outlive its use here. Without one the
    // input-device scan finds nothing.
    void setDeviceEnumeration(platform::DeviceEnumeration* enumeration);
    // The present mice and keyboards that have a USB vendor interface, and PS/2 ones, each once.
    // Safe on any thread while the enumeration is.
    InputDeviceLists scanInputDevices() const;
    // The path of the present USB device interface whose vendor and product id make `deviceKey`,
    // or "" when there is none.
    QString findVendorInterface(const QString& deviceKey) const;

    const DcLibrary& library() const { return *library_; }

    // Reading a block that came from outside: at most 20 entries, texts cut at their field's end.
    static int entryCount(const dc::DeviceListBlock& block);
    static QByteArray entryText(const char* field, int size);
    // `field` points into the packed block: no alignment is assumed.
    static QString entryWideText(const void* field, int units);
    static Device_Record deviceRecord(const dc::DeviceEntry& entry);
    // Eight upper-case hex digits, vendor id then product id, each at least four wide.
    static QString deviceKey(quint32 vendorId, quint32 productId);

    // Where acted-on device events go (the page push). Called on the library's thread; once a
    // sink is replaced, the old one is no longer running, so a sink must not replace sinks
    // itself.
    static void setDeviceEventSink(std::function<void(quint16 code)> sink);
    // Where data reports go, as 16 lower-case hex digits; called on the library's thread.
    static void setDeviceDataSink(std::function<void(const QString& hex)> sink);
    // The application's handler and where its input-device lists go: after the event sink,
    // every acted-on device event rescans through `handler` and hands the lists to `store`, on
    // the library's thread. Null for either ends it, and so does the handler's destruction.
    static void setInputDeviceRescan(const devices_handler* handler,
                                     std::function<void(const InputDeviceLists&)> store);

    // The library's callbacks.
    static bool onDeviceEvent(quint16 code);
    static bool onLibraryData(const std::uint8_t** data, void* unused);

  signals:
    // Emitted (queued, on this object's thread) for every device event that is acted on.
    void deviceChanged();

  protected:
    std::unique_ptr<DcLibrary> library_;

  private:
    QStringList knownKeys_;
    // Read on the library's thread when an event triggers a rescan.
    std::atomic<platform::DeviceEnumeration*> enumeration_{nullptr};
};
