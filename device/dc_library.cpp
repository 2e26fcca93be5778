#include "device/dc_library.h"

#include <QCoreApplication>
#include <QDir>

namespace {

// The library is given an empty text in place of the device path.
constexpr dc::WideChar kNoPath[] = u"";

const dc::WideChar* wide(const QString& text) {
    return reinterpret_cast<const dc::WideChar*>(text.utf16());
}

template <typename Fn>
void resolve(QLibrary& library, const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(library.resolve(name));
}

}  // namespace

DcLibrary::DcLibrary(const QString& folder) {
    const QString base = folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
    library_.setFileName(QDir(base).filePath(QStringLiteral("libdc")));
    if (!library_.load())
        return;
    resolve(library_, "dcDeviceExist", entries_.dcDeviceExist);
    resolve(library_, "dcDevices", entries_.dcDevices);
    resolve(library_, "dcOnDeviceEvent", entries_.dcOnDeviceEvent);
    resolve(library_, "dconDeviceData", entries_.dconDeviceData);
    resolve(library_, "dcAsk", entries_.dcAsk);
    resolve(library_, "dcReset", entries_.dcReset);
    resolve(library_, "dcNotify", entries_.dcNotify);
    resolve(library_, "dcRead", entries_.dcRead);
    resolve(library_, "dcWrite", entries_.dcWrite);
    resolve(library_, "dcReadProp", entries_.dcReadProp);
    resolve(library_, "dcWriteProp", entries_.dcWriteProp);
    resolve(library_, "dcScriptOut", entries_.dcScriptOut);
    resolve(library_, "dcIDWrite", entries_.dcIDWrite);
    resolve(library_, "dcRebootRom", entries_.dcRebootRom);
    resolve(library_, "dcFinishUpdateRom", entries_.dcFinishUpdateRom);
    resolve(library_, "dcCheckRom", entries_.dcCheckRom);
    resolve(library_, "dcBornRom", entries_.dcBornRom);
    resolve(library_, "dcEraseRom", entries_.dcEraseRom);
}

void DcLibrary::unload() {
    entries_ = DcEntryPoints();
    if (library_.isLoaded())
        library_.unload();
}

bool DcLibrary::deviceExist(const QString& hardwareId) const {
    return entries_.dcDeviceExist && entries_.dcDeviceExist(wide(hardwareId)) == 0;
}

bool DcLibrary::devices(const dc::UsageFilter& filter, dc::DeviceListBlock* block) const {
    if (!entries_.dcDevices)
        return false;
    entries_.dcDevices(filter, block, sizeof(dc::DeviceListBlock));
    return true;
}

bool DcLibrary::onDeviceEvent(dc::DeviceEventCallback* callback) const {
    return entries_.dcOnDeviceEvent && entries_.dcOnDeviceEvent(callback) == 0;
}

bool DcLibrary::onDeviceData(const QString& deviceId, const QString& devicePath,
                             dc::DeviceDataCallback* callback) const {
    return entries_.dconDeviceData && entries_.dconDeviceData(wide(deviceId), wide(devicePath),
                                                              dc::kLibraryChannel, callback) == 0;
}

bool DcLibrary::ask(const QString& hardwareId) const {
    return entries_.dcAsk && entries_.dcAsk(wide(hardwareId), kNoPath, dc::kLibraryChannel) == 0;
}

bool DcLibrary::reset(const QString& hardwareId, quint16 mode, quint8* status) const {
    return entries_.dcReset &&
           entries_.dcReset(wide(hardwareId), kNoPath, dc::kLibraryChannel, mode, status, 0) == 0;
}

bool DcLibrary::notify(const QString& hardwareId) const {
    return entries_.dcNotify &&
           entries_.dcNotify(wide(hardwareId), kNoPath, dc::kLibraryChannel) == 0;
}

bool DcLibrary::read(const QString& hardwareId, quint8* buffer, int size, int address) const {
    return entries_.dcRead && entries_.dcRead(wide(hardwareId), kNoPath, dc::kLibraryChannel,
                                              buffer, size, address) == 0;
}

bool DcLibrary::write(const QString& hardwareId, const quint8* buffer, int size,
                      int address) const {
    return entries_.dcWrite && entries_.dcWrite(wide(hardwareId), kNoPath, dc::kLibraryChannel,
                                                buffer, size, address) == 0;
}

bool DcLibrary::readProp(const QString& hardwareId, quint8* buffer, int size,
                         int propertyId) const {
    return entries_.dcReadProp &&
           entries_.dcReadProp(wide(hardwareId), kNoPath, dc::kLibraryChannel, buffer, size,
                               propertyId) == 0;
}

bool DcLibrary::writeProp(const QString& hardwareId, const quint8* buffer, int size,
                          int propertyId) const {
    return entries_.dcWriteProp &&
           entries_.dcWriteProp(wide(hardwareId), kNoPath, dc::kLibraryChannel, buffer, size,
                                propertyId) == 0;
}

bool DcLibrary::scriptOut(const QString& hardwareId) const {
    return entries_.dcScriptOut &&
           entries_.dcScriptOut(wide(hardwareId), kNoPath, dc::kLibraryChannel) == 0;
}

bool DcLibrary::idWrite(const QString& hardwareId) const {
    return entries_.dcIDWrite &&
           entries_.dcIDWrite(wide(hardwareId), kNoPath, dc::kLibraryChannel) == 0;
}

bool DcLibrary::rebootRom(const QString& hardwareId) const {
    return entries_.dcRebootRom &&
           entries_.dcRebootRom(wide(hardwareId), kNoPath, dc::kLibraryChannel) == 0;
}

bool DcLibrary::finishUpdateRom(const QString& hardwareId) const {
    return entries_.dcFinishUpdateRom &&
           entries_.dcFinishUpdateRom(wide(hardwareId), kNoPath, dc::kLibraryChannel) == 0;
}

bool DcLibrary::checkRom(const QString& hardwareId, int size, quint32 check) const {
    return entries_.dcCheckRom &&
           entries_.dcCheckRom(wide(hardwareId), kNoPath, dc::kLibraryChannel, size, check) == 0;
}

bool DcLibrary::bornRom(const QString& hardwareId, const quint8* buffer, int length,
                        int offset) const {
    return entries_.dcBornRom && entries_.dcBornRom(wide(hardwareId), kNoPath, dc::kLibraryChannel,
                                                    buffer, length, offset) == 0;
}

bool DcLibrary::eraseRom(const QString& hardwareId) const {
    return entries_.dcEraseRom &&
           entries_.dcEraseRom(wide(hardwareId), kNoPath, dc::kLibraryChannel) == 0;
}
