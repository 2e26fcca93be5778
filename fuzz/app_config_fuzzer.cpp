// The program's own configuration files: conf.xml's client settings and device entries, and
// define.xml's key names, read however the files were damaged or rewritten.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <pugixml.hpp>

#include <optional>

#include "app/config_files.h"
#include "base/xml_string_writer.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/temp_app_folder.h"
#include "fuzz/text_input.h"

namespace {

bool parses(const QByteArray& text, pugi::xml_document& document) {
    return bool(document.load_buffer(text.constData(), size_t(text.size())));
}

// The file as the update dialog writes conf.xml back: parsed and printed with tabs.
std::optional<QByteArray> rewritten(const QByteArray& text) {
    pugi::xml_document document;
    if (!parses(text, document))
        return std::nullopt;
    xml_string_writer writer;
    document.save(writer, "\t", pugi::format_indent, pugi::encoding_utf8);
    return QByteArray::fromStdString(writer.result);
}

void checkConf(const QByteArray& text) {
    const std::optional<QMap<QString, QString>> settings = parseClientSettings(text);
    pugi::xml_document document;
    fuzz::check(settings.has_value() == parses(text, document),
                "conf.xml gives settings exactly when it parses");
    if (!settings)
        return;
    const std::optional<QByteArray> again = rewritten(text);
    fuzz::check(again && parseClientSettings(*again) == settings,
                "conf.xml written back gives the same settings");
}

void checkDefine(const QByteArray& first, const QByteArray& second) {
    QMap<QString, QString> alone;
    addKeyDefinitions(second, alone);
    pugi::xml_document document;
    if (!parses(second, document))
        fuzz::check(alone.isEmpty(), "a define.xml that does not parse adds no key");
    for (auto it = alone.begin(); it != alone.end(); ++it)
        fuzz::check(it.key() == it.key().toUpper(), "key names are kept upper-cased");
    if (const std::optional<QByteArray> again = rewritten(second)) {
        QMap<QString, QString> reread;
        addKeyDefinitions(*again, reread);
        fuzz::check(reread == alone, "define.xml written back gives the same keys");
    }

    // A later file adds to what an earlier one gave, its entries winning; nothing is dropped.
    QMap<QString, QString> table;
    addKeyDefinitions(first, table);
    const QMap<QString, QString> earlier = table;
    addKeyDefinitions(second, table);
    for (auto it = alone.begin(); it != alone.end(); ++it)
        fuzz::check(table.value(it.key()) == it.value(), "the later file's entries win");
    for (auto it = earlier.begin(); it != earlier.end(); ++it)
        fuzz::check(table.contains(it.key()), "the table is never cleared");
    fuzz::check(table.size() <= earlier.size() + alone.size(), "only the files' keys are added");
}

// The page folder of a device comes only from the entry whose identifier is exactly the one
// asked for, however the identifier is spelt.
void checkDevice(const QByteArray& text, const QString& deviceId) {
    const std::optional<QString> folder = productDeviceFolder(text, deviceId);
    pugi::xml_document document;
    if (!parses(text, document)) {
        fuzz::check(!folder, "no device folder from a conf.xml that does not parse");
        return;
    }
    // The first entry for exactly that identifier, as the XPath lookup reads conf.xml.
    const QByteArray id = deviceId.toUtf8();
    for (const pugi::xml_node& conf : document.child("root").children("conf")) {
        const pugi::xml_attribute attribute = conf.attribute("deviceId");
        const pugi::xml_node product = conf.child("productInfo");
        if (!attribute || QByteArray(attribute.value()) != id || !product)
            continue;
        fuzz::check(folder && *folder == QString::fromUtf8(product.attribute("device").value()),
                    "a device folder is the one its own entry names");
        return;
    }
    fuzz::check(!folder, "no device folder without an entry for exactly that identifier");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLogs();
    return 0;
}

// The input: a first line "conf", "define" or "device <identifier>", then the file's text;
// for "define", an earlier define.xml and a later one separated by a line "%%".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzz::bytes(data, size);
    const int firstEnd = input.indexOf('\n');
    const QByteArray mode = input.left(firstEnd < 0 ? 0 : firstEnd);
    const QByteArray text = firstEnd < 0 ? input : input.mid(firstEnd + 1);
    if (mode == "define") {
        const int split = text.indexOf("\n%%\n");
        checkDefine(split < 0 ? QByteArray() : text.left(split),
                    split < 0 ? text : text.mid(split + 4));
    } else if (mode.startsWith("device ")) {
        const QByteArray id = mode.mid(7);
        checkDevice(text, QString::fromUtf8(id.constData(), id.size()));
    } else {
        checkConf(text);
    }
    return 0;
}
