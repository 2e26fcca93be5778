#pragma once

#include <QString>
#include <QVariantMap>

#include <array>

#include "device/devices_handler.h"

// A page's device request: the members of its JSON query.
using ParamMap = QVariantMap;

// Device property and memory reads and writes in the forms the pages use: byte items as
// hexadecimal texts, read bytes as byte-list text ("0x01,0xff,0x0a"). Sizes run from 0 to the
// 2048 bytes of the transfer buffer; other sizes are refused (false or "").
class DeviceFunctions : public devices_handler {
    Q_OBJECT

  public:
    explicit DeviceFunctions(const QString& libraryFolder = QString(), QObject* parent = nullptr);

    // Map operations; missing keys give false or "" and reach nothing.
    QString readDevicesProp(const ParamMap& map);
    bool writeDevicesProp(const ParamMap& map);
    QString readByAddr(const ParamMap& map);
    bool writeByAddr(const ParamMap& map);
    // Blank means read successfully and all zero; an area that cannot be read is not blank.
    bool isPropEmpty(const ParamMap& map);
    bool cleanMacroByAddr(const ParamMap& map);
    // Writes only into blank memory: an area holding any non-zero byte, or one that cannot be
    // read, is left alone.
    bool writeMacroByAddr(const ParamMap& map);

    // Text-argument operations: addresses in hexadecimal, sizes and ids in decimal.
    // The answer is {"DpiXVal":"…","DpiYVal":"…"}; index 0-4 selects DPI property 50-54, any
    // other index is the property id itself.
    QString readDevicesDpiVal(const QString& hardwareId, const QString& devicePath,
                              const QString& dpiIndex);
    bool clearBlock(const QString& hardwareId, const QString& devicePath, const QString& address,
                    const QString& size);
    bool writeBlock(const QString& hardwareId, const QString& devicePath, const QString& address,
                    const QString& size, const QString& data);
    bool isBlockEmpty(const QString& hardwareId, const QString& devicePath, const QString& address,
                      const QString& size);
    QString readPropertyText(const QString& hardwareId, const QString& devicePath,
                             const QString& propertyId, const QString& size);
    // The device half of the mouse-settings answer: report rate, DPI, lighting, debounce, sound.
    QString readDeviceSummary(const QString& hardwareId, const QString& devicePath);

    // Hexadecimal as the device texts write it: leading white space, an optional sign and
    // "0x", digits up to the first non-digit (none give 0), saturating to the signed 32-bit
    // range.
    static qint32 parseHex(const QString& text);
    // A byte item keeps the low 8 bits: "1ff" and "-1" both give 0xFF.
    static quint8 parseByte(const QString& item);
    static QString byteListText(const quint8* bytes, int count);

  private:
    using TransferBuffer = std::array<quint8, dc::kTransferBufferSize>;

    QString readProperty(const QString& hardwareId, int propertyId, int size);
    QString readMemory(const QString& hardwareId, int address, int size);
    bool writeProperty(const QString& hardwareId, int propertyId, int size, const QString& data);
    bool writeMemory(const QString& hardwareId, int address, int size, const QString& data);
    bool clearMemory(const QString& hardwareId, int address, int size);
    bool memoryBlank(const QString& hardwareId, int address, int size);
    // Reads one property into `buffer`, which is zeroed first.
    void readPropertyBytes(const QString& hardwareId, int propertyId, int size,
                           TransferBuffer& buffer);
};
