#pragma once

#include <QLibrary>
#include <QString>

#include "device/dc_api.h"

// The entry points of the device library, resolved by name in this order.
struct DcEntryPoints {
    dc::DeviceExistFn dcDeviceExist = nullptr;
    dc::DevicesFn dcDevices = nullptr;
    dc::OnDeviceEventFn dcOnDeviceEvent = nullptr;
    dc::OnDeviceDataFn dconDeviceData = nullptr;
    dc::AskFn dcAsk = nullptr;
    dc::ResetFn dcReset = nullptr;
    dc::NotifyFn dcNotify = nullptr;
    dc::ReadFn dcRead = nullptr;
    dc::WriteFn dcWrite = nullptr;
    dc::ReadPropFn dcReadProp = nullptr;
    dc::WritePropFn dcWriteProp = nullptr;
    dc::ScriptOutFn dcScriptOut = nullptr;
    dc::IDWriteFn dcIDWrite = nullptr;
    dc::RebootRomFn dcRebootRom = nullptr;
    dc::FinishUpdateRomFn dcFinishUpdateRom = nullptr;
    dc::CheckRomFn dcCheckRom = nullptr;
    dc::BornRomFn dcBornRom = nullptr;
    dc::EraseRomFn dcEraseRom = nullptr;
};

// The device library "libdc" loaded at run time (libdc.dll on Windows, libdc.so elsewhere).
// Every operation supplies the hardware id as UTF-16, an empty device path and the library
// channel, and does nothing and answers false when its entry point is missing. A bool result is
// true when the library answered 0. Callable from any thread once constructed.
class DcLibrary {
  public:
    // Loads from `folder`, or from the application folder when `folder` is empty.
    explicit DcLibrary(const QString& folder = QString());
    DcLibrary(const DcLibrary&) = delete;
    DcLibrary& operator=(const DcLibrary&) = delete;

    bool isLoaded() const { return library_.isLoaded(); }
    QString errorString() const { return library_.errorString(); }
    const DcEntryPoints& entryPoints() const { return entries_; }

    // Drops this object's hold on the library and forgets every entry point. The library
    // really goes away once no other holder in the process keeps it.
    void unload();

    // True when the device with this id is present.
    bool deviceExist(const QString& hardwareId) const;
    // Fills `block`; false only when the entry point is missing (the library's answer is not
    // a success indication).
    bool devices(const dc::UsageFilter& filter, dc::DeviceListBlock* block) const;
    // The variables must outlive the registration: the library may read them at any time.
    bool onDeviceEvent(dc::DeviceEventCallback* callback) const;
    bool onDeviceData(const QString& deviceId, const QString& devicePath,
                      dc::DeviceDataCallback* callback) const;

    bool ask(const QString& hardwareId) const;
    bool reset(const QString& hardwareId, quint16 mode, quint8* status) const;
    bool notify(const QString& hardwareId) const;
    bool read(const QString& hardwareId, quint8* buffer, int size, int address) const;
    bool write(const QString& hardwareId, const quint8* buffer, int size, int address) const;
    bool readProp(const QString& hardwareId, quint8* buffer, int size, int propertyId) const;
    bool writeProp(const QString& hardwareId, const quint8* buffer, int size, int propertyId) const;
    bool scriptOut(const QString& hardwareId) const;
    bool idWrite(const QString& hardwareId) const;
    bool rebootRom(const QString& hardwareId) const;
    bool finishUpdateRom(const QString& hardwareId) const;
    bool checkRom(const QString& hardwareId, int size, quint32 check) const;
    bool bornRom(const QString& hardwareId, const quint8* buffer, int length, int offset) const;
    bool eraseRom(const QString& hardwareId) const;

  private:
    QLibrary library_;
    DcEntryPoints entries_;
};
