#include "app/config_files.h"

#include <pugixml.hpp>

namespace {

bool parse(const QByteArray& text, pugi::xml_document& document) {
    return bool(document.load_buffer(text.constData(), static_cast<size_t>(text.size())));
}

}  // namespace

std::optional<QMap<QString, QString>> parseClientSettings(const QByteArray& confText) {
    pugi::xml_document document;
    if (!parse(confText, document))
        return std::nullopt;
    QMap<QString, QString> settings;
    for (const pugi::xml_attribute& attribute :
         document.child("root").child("client").attributes()) {
        settings.insert(QString::fromUtf8(attribute.name()), QString::fromUtf8(attribute.value()));
    }
    return settings;
}

void addKeyDefinitions(const QByteArray& defineText, QMap<QString, QString>& table) {
    pugi::xml_document document;
    // pugixml keeps what it read before an error: a cut-off file must not add half its keys.
    if (!parse(defineText, document))
        return;
    for (const pugi::xml_node& key : document.child("keyboard").children()) {
        if (key.type() != pugi::node_element)
            continue;
        table.insert(QString::fromUtf8(key.attribute("value").value()).toUpper(),
                     QString::fromUtf8(key.attribute("hidCode").value()));
    }
}

std::optional<QString> productDeviceFolder(const QByteArray& confText, const QString& deviceId) {
    pugi::xml_document document;
    if (!parse(confText, document))
        return std::nullopt;
    // Compared as text, not spliced into an XPath: an identifier holding quotes must not
    // select another device's pages.
    const QByteArray id = deviceId.toUtf8();
    for (const pugi::xml_node& conf : document.child("root").children("conf")) {
        const pugi::xml_attribute attribute = conf.attribute("deviceId");
        if (!attribute || QByteArray(attribute.value()) != id)
            continue;
        if (const pugi::xml_node product = conf.child("productInfo"))
            return QString::fromUtf8(product.attribute("device").value());
    }
    return std::nullopt;
}
