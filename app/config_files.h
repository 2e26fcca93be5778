#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

// Reading the program's own configuration files, Resources/conf.xml and Resources/define.xml.

// The client settings of conf.xml: every attribute of root/client, name to value. Nothing when
// the text does not parse.
std::optional<QMap<QString, QString>> parseClientSettings(const QByteArray& confText);

// Adds the key names of define.xml to `table`: for every child element of keyboard, its
// `value` upper-cased to its `hidCode`, a later entry replacing an earlier one. A text that
// does not parse adds nothing.
void addKeyDefinitions(const QByteArray& defineText, QMap<QString, QString>& table);

// The page folder conf.xml names for a device: the `device` attribute of the productInfo of
// the first conf element whose deviceId equals `deviceId` exactly and has one. Nothing when
// there is no such productInfo.
std::optional<QString> productDeviceFolder(const QByteArray& confText, const QString& deviceId);
