// The device list block that the device library fills (dcDevices): the page's device list and
// the device records made from it.
//
// The input describes a block compactly, so that the fuzzer reaches every field without
// writing 42 102 bytes: the count (u16), a fill byte for every byte the input does not give,
// then per entry its first 81 bytes (name to product id) and the two wide texts, each as a
// length in code units followed by that many UTF-16LE units. The block is built in a buffer of
// exactly its size, so any read beyond it is caught.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "device/devices_handler.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/strict_json.h"

namespace {

// The block's layout, as the library documents it.
constexpr int kBlockSize = 42102;
constexpr int kEntries = 20;
constexpr int kEntrySize = 2105;
constexpr int kFixedFields = 81;
constexpr int kName = 0, kVersion = 40, kSn = 57, kMask = 71, kVendor = 73, kProduct = 77;
constexpr int kPath = 1085, kId = 1595, kWideUnits = 255;

const unsigned char* entryAt(const unsigned char* block, int i) {
    return block + 2 + i * kEntrySize;
}

QByteArray narrowText(const unsigned char* field, int size) {
    int length = 0;
    while (length < size && field[length] != 0)
        ++length;
    return QByteArray(reinterpret_cast<const char*>(field), length);
}

std::u16string wideText(const unsigned char* field) {
    std::u16string text;
    for (int i = 0; i < kWideUnits; ++i) {
        const char16_t unit = char16_t(field[2 * i] | field[2 * i + 1] << 8);
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text;
}

quint32 u32At(const unsigned char* p) {
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

std::u16string units(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
}

bool validUtf16(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xDC00 && u <= 0xDFFF)
            return false;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        }
    }
    return true;
}

bool isWordChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_';
}

// "VID_\w+" somewhere in the id (\w being an ASCII word character, as without Unicode
// properties).
bool hasTag(const std::u16string& id, const std::u16string& tag) {
    for (size_t at = id.find(tag); at != std::u16string::npos; at = id.find(tag, at + 1)) {
        if (at + tag.size() < id.size() && isWordChar(id[at + tag.size()]))
            return true;
    }
    return false;
}

QString referenceKey(quint32 vendor, quint32 product) {
    char key[32];
    std::snprintf(key, sizeof key, "%04X%04X", vendor, product);
    return QString::fromLatin1(key);
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void buildBlock(unsigned char* block, const uint8_t* data, size_t size) {
    size_t at = 0;
    auto take = [&](unsigned char* out, size_t count) {
        const size_t n = std::min(count, size - at);
        std::memcpy(out, data + at, n);
        at += n;
    };
    unsigned char header[3] = {0, 0, 0};
    take(header, 3);
    std::memset(block, header[2], kBlockSize);
    block[0] = header[0];
    block[1] = header[1];
    for (int i = 0; i < kEntries && at < size; ++i) {
        unsigned char* entry = block + 2 + i * kEntrySize;
        take(entry, kFixedFields);
        for (const int field : {kPath, kId}) {
            if (at >= size)
                break;
            const size_t length = std::min<size_t>(data[at++], kWideUnits);
            take(entry + field, 2 * length);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The list logs every entry; the lines are of no use here.
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static_assert(sizeof(dc::DeviceListBlock) == kBlockSize, "the block the library fills");
    auto* raw = static_cast<unsigned char*>(std::malloc(kBlockSize));
    buildBlock(raw, data, size);
    const auto& block = *reinterpret_cast<const dc::DeviceListBlock*>(raw);

    const int count = std::min<int>(raw[0] | raw[1] << 8, kEntries);
    fuzz::check(devices_handler::entryCount(block) == count, "at most 20 entries are read");

    // Every record holds exactly its own field's bytes, up to the first zero.
    for (int i = 0; i < kEntries; ++i) {
        const unsigned char* entry = entryAt(raw, i);
        const Device_Record record = devices_handler::deviceRecord(block.entries[i]);
        fuzz::check(record.name == narrowText(entry + kName, 40), "name is its field's text");
        fuzz::check(record.version == narrowText(entry + kVersion, 17),
                    "version is its field's text");
        fuzz::check(record.sn == narrowText(entry + kSn, 14), "sn is its field's text");
        fuzz::check(record.mask == narrowText(entry + kMask, 2), "mask is its field's text");
        fuzz::check(units(record.devicePath) == wideText(entry + kPath),
                    "device path is its field's text");
        fuzz::check(units(record.deviceId) == wideText(entry + kId),
                    "device id is its field's text");
        fuzz::check(
            devices_handler::deviceKey(block.entries[i].vendorId, block.entries[i].productId) ==
                referenceKey(u32At(entry + kVendor), u32At(entry + kProduct)),
            "device key is vendor then product id in hex, at least four digits each");
    }

    const QJsonArray list = devices_handler::pageDeviceList(block);

    // The entries kept: those whose id names a VID_ and a PID_, in block order.
    std::vector<int> kept;
    for (int i = 0; i < count; ++i) {
        const std::u16string id = wideText(entryAt(raw, i) + kId);
        if (validUtf16(id) && hasTag(id, u"VID_") && hasTag(id, u"PID_"))
            kept.push_back(i);
    }
    fuzz::check(list.size() == int(kept.size()), "exactly the ids with VID_ and PID_ are listed");

    // The answer the page gets, made as the command makes it: valid JSON holding each field.
    const QByteArray answer = QJsonDocument(list).toJson(QJsonDocument::Compact);
    const std::optional<fuzz::json::Value> parsed = fuzz::json::parse(answer);
    fuzz::check(parsed.has_value(), "the page's answer is valid JSON");
    fuzz::check(
        parsed->type == fuzz::json::Value::Type::Array && parsed->items.size() == kept.size(),
        "the answer is an array of the listed devices");
    for (size_t j = 0; j < kept.size(); ++j) {
        const unsigned char* entry = entryAt(raw, kept[j]);
        const fuzz::json::Value& device = parsed->items[j];
        fuzz::check(device.type == fuzz::json::Value::Type::Object && device.members.size() == 7 &&
                        !device.hasDuplicateMembers(),
                    "a device is an object of seven members");
        auto text = [&](const char16_t* name) -> std::u16string {
            const fuzz::json::Value* member = device.member(name);
            fuzz::check(member && member->type == fuzz::json::Value::Type::String,
                        "every device member is a string");
            return member->text;
        };
        auto fromUtf8 = [](const QByteArray& bytes) { return units(QString::fromUtf8(bytes)); };
        fuzz::check(text(u"sid").empty() && text(u"type").empty(), "sid and type are empty");
        const std::u16string id = text(u"deviceId");
        const std::u16string path = text(u"devicePath");
        fuzz::check(id == wideText(entry + kId) && id.size() <= kWideUnits,
                    "deviceId is the entry's id, at most 255 units");
        fuzz::check(path == wideText(entry + kPath) && path.size() <= kWideUnits,
                    "devicePath is the entry's path, at most 255 units");
        fuzz::check(text(u"sn") == fromUtf8(narrowText(entry + kSn, 14)), "sn is the entry's sn");
        fuzz::check(text(u"version") == fromUtf8(narrowText(entry + kVersion, 17).left(16)),
                    "version is the first 16 bytes of the entry's version");
        fuzz::check(text(u"mask") == fromUtf8(narrowText(entry + kMask, 2)),
                    "mask is the entry's mask");
        for (const auto& member : device.members) {
            fuzz::check(member.second.text.find(u'\0') == std::u16string::npos,
                        "no text carries a zero");
        }
    }

    std::free(raw);
    return 0;
}
