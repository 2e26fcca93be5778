#include "commands/key_script_builder.h"

#include "commands/profile_store.h"

#include <QDebug>

namespace {

const QString kSlotSize = QString::number(KeyScriptBuilder::kMacroSlotItems);
// A free slot holds zero bytes only, as left by clearing it.
const QString kBlankSlot = QStringLiteral("0x00,").repeated(KeyScriptBuilder::kMacroSlotItems - 1) +
                           QStringLiteral("0x00");

// An XPath string literal for any text; a name holding both quote kinds needs concat().
QString xpathLiteral(const QString& text) {
    const QChar quote = QLatin1Char('"');
    const QChar apostrophe = QLatin1Char('\'');
    if (!text.contains(quote))
        return quote + text + quote;
    if (!text.contains(apostrophe))
        return apostrophe + text + apostrophe;
    QStringList pieces;
    const QStringList parts = text.split(quote);
    for (int i = 0; i < parts.size(); ++i) {
        if (i > 0)
            pieces << QStringLiteral("'\"'");
        pieces << quote + parts[i] + quote;
    }
    return QStringLiteral("concat(%1)").arg(pieces.join(QLatin1Char(',')));
}

// One byte as the device reads script items: one or two hexadecimal digits, "0x" optional.
bool isScriptItem(const QString& text) {
    const int digits = text.startsWith(QLatin1String("0x")) ? text.size() - 2 : text.size();
    if (digits < 1 || digits > 2)
        return false;
    for (int i = text.size() - digits; i < text.size(); ++i) {
        const ushort c = text[i].unicode();
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// One script item holding a byte given in decimal; empty when the text is not such a number.
QString byteItem(const QString& decimal) {
    bool ok = false;
    const int value = decimal.toInt(&ok);
    if (!ok || value < 0 || value > 0xff)
        return QString();
    return QString::number(value, 16);
}

}  // namespace

QStringList splitValue(int v) {
    if (v < 0 || v >= 0x1000)
        return {};
    const QString h = QString::number(v, 16);
    if (v >= 0x100)
        return {h.mid(1), h.left(1)};
    return {h, QStringLiteral("0x00")};
}

KeyScriptBuilder::KeyScriptBuilder(ProfileStore& profiles, const QString& keyDefinitionFile,
                                   MacroSlotDevice& device)
    : profiles_(profiles), keyDefinitionFile_(keyDefinitionFile), device_(device) {}

QString KeyScriptBuilder::buildKeyScript(const QString& paramData, const QString& type,
                                         const QVariantMap& query) {
    stored_.reset();
    QString script;
    if (type == QLatin1String("DPI"))
        script = dpiScript(paramData);
    else if (type == QLatin1String("gKey"))
        script = gKeyScript(paramData);
    else if (type == QLatin1String("hotKey"))
        script = hotKeyScript(paramData);
    else if (type == QLatin1String("macro"))
        script = macroScript(paramData, query);
    qDebug() << script;
    return script;
}

QString KeyScriptBuilder::lookupKeyAttribute(const QString& xpath, const QString& attribute) {
    qDebug() << keyDefinitionFile_;
    const QString path = profiles_.absolutePath(QStringLiteral("Resources/") + keyDefinitionFile_);
    if (path.isEmpty() || !profiles_.cacheProfile(path))
        return QString();
    pugi::xml_document document;
    if (!parseProfileText(profiles_.cachedProfile(path), document))
        return QString();
    pugi::xpath_node_set nodes;
    if (!selectProfileNodes(document, xpath, nodes) || nodes.empty())
        return QString();
    const QByteArray name = attribute.toUtf8();
    return QString::fromUtf8(nodes.first().node().attribute(name.constData()).value());
}

QString KeyScriptBuilder::keyCode(const QString& name) {
    return lookupKeyAttribute(QStringLiteral("/keyboard/key[@name=%1]").arg(xpathLiteral(name)),
                              QStringLiteral("hidCode"));
}

QString KeyScriptBuilder::storeMacro(const QString& body, const QVariantMap& query) {
    const QString hardwareId = query.value(QStringLiteral("HardwareID")).toString();
    const QString devicePath = query.value(QStringLiteral("DevicePath")).toString();
    for (int slot = 0; slot < kMacroSlots; ++slot) {
        const QString address = lookupKeyAttribute(
            QStringLiteral("/keyboard/macro[@name=\"macro%1\"]").arg(slot), QStringLiteral("code"));
        // A slot the key-definition file does not place would be read as address 0.
        if (address.isEmpty())
            continue;
        if (!device_.isBlockEmpty(hardwareId, devicePath, address, kSlotSize))
            continue;
        if (device_.writeBlock(hardwareId, devicePath, address, kSlotSize, body)) {
            stored_ = StoredSlot{hardwareId, devicePath, address};
            return QString::number(slot);
        }
    }
    return QString();
}

bool KeyScriptBuilder::releaseStoredMacro() {
    if (!stored_)
        return true;
    const StoredSlot slot = *stored_;
    stored_.reset();
    return device_.writeBlock(slot.hardwareId, slot.devicePath, slot.address, kSlotSize,
                              kBlankSlot);
}

QString KeyScriptBuilder::dpiScript(const QString& paramData) {
    const QStringList fields = paramData.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    if (fields.size() < 3)
        return QString();
    bool xOk = false;
    bool yOk = false;
    const QStringList x = splitValue(fields[1].toInt(&xOk) / 50);
    QStringList y = splitValue(fields[2].toInt(&yOk) / 50);
    if (!xOk || !yOk || x.isEmpty() || y.isEmpty())
        return QString();
    // The flag goes to the device as it stands, so it has to be one script item.
    const QString& link = fields[0];
    if (!isScriptItem(link))
        return QString();
    if (link.toInt() == 1)
        y = x;
    return QStringLiteral("%1,%2,%3,%4,%5,0x00,0x00,0x00").arg(link, x[0], x[1], y[0], y[1]);
}

QString KeyScriptBuilder::gKeyScript(const QString& paramData) {
    const QStringList fields = paramData.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    if (fields.size() < 3)
        return QString();
    static const QStringList deviceCodes = {QStringLiteral("0x81"), QStringLiteral("0x82"),
                                            QStringLiteral("0x84")};
    const QString a = byteItem(fields[1]);
    const QString b = byteItem(fields[2]);
    if (a.isEmpty() || b.isEmpty())
        return QString();
    const QString code = deviceCodes.contains(fields[0]) ? fields[0] : keyCode(fields[0]);
    // An unknown key would leave an empty item, which the device reads as key code 0.
    if (code.isEmpty())
        return QString();
    return QStringLiteral("0x05,%1,%2,%3").arg(code, a, b);
}

QString KeyScriptBuilder::hotKeyScript(const QString& paramData) {
    QStringList codes;
    for (const QString& name : paramData.split(QLatin1Char('+'), Qt::SkipEmptyParts))
        codes << keyCode(name);
    QStringList items = codes.join(QLatin1Char(',')).split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (items.size() == 1)
        items.prepend(QStringLiteral("0x00"));
    while (items.size() < 3)
        items << QStringLiteral("0x00");
    return QStringLiteral("0x02,%1,%2,%3").arg(items[0], items[1], items[2]);
}

QString KeyScriptBuilder::macroScript(const QString& paramData, const QVariantMap& query) {
    const QString press = QStringLiteral("按下");
    const QString release = QStringLiteral("弹起");
    const QString delay = QStringLiteral("延迟");
    const QStringList mouseButtons = {QStringLiteral("左键"), QStringLiteral("右键")};

    QString body;
    for (const QString& part : paramData.split(QLatin1Char(')'), Qt::SkipEmptyParts)) {
        const int open = part.indexOf(QLatin1Char('('));
        if (open <= 0)
            continue;
        const QString action = part.left(open).trimmed();
        const QString argument = part.mid(open + 1).toUpper().trimmed();
        if (argument.isEmpty())
            continue;
        if (action == press || action == release) {
            const QString code = keyCode(argument);
            if (code.isEmpty())
                continue;
            const bool button = mouseButtons.contains(argument);
            const QString item =
                action == press
                    ? (button ? QStringLiteral("0x81,%1,0x00,") : QStringLiteral("0x84,%1,0x00,"))
                    : (button ? QStringLiteral("0x01,%1,0x00,") : QStringLiteral("0x04,%1,0x00,"));
            body += item.arg(code);
        } else if (action == delay) {
            // A delay the two script items cannot hold would play back as a different one.
            bool ok = false;
            const QStringList parts = splitValue(argument.toInt(&ok));
            if (!ok || parts.isEmpty())
                return QString();
            body += QStringLiteral("0x06,%1,%2,").arg(parts[0], parts[1]);
        }
    }
    if (body.isEmpty())
        return QString();

    // The loop count is stored as it stands: anything but one script item would shift or
    // corrupt the items after it.
    const QString loop = query.value(QStringLiteral("LOOP")).toString();
    if (!loop.isEmpty() && !isScriptItem(loop))
        return QString();
    body += QStringLiteral("0x07,%1,0x00").arg(loop);
    QStringList items = body.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (items.size() > kMacroSlotItems)
        return QString();
    const int count = items.size() + 1;
    while (items.size() < kMacroSlotItems)
        items << QStringLiteral("0x00");
    const QString slotBody = items.join(QLatin1Char(','));
    qDebug() << slotBody;

    // A full device refuses the assignment rather than pointing the button at a foreign slot.
    const QString slot = storeMacro(slotBody, query);
    if (slot.isEmpty())
        return QString();
    return QStringLiteral("0x04,0,%1,%2")
        .arg(QString::number(slot.toInt(), 16), QString::number(count, 16));
}
