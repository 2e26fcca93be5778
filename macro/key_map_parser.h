#pragma once

#include <QPair>

#include <optional>

#include "macro/macro_types.h"

// Recorded points (x, y texts) that a "MOUSEMOVE" trigger plays back.
using RecordedPoints = QList<QPair<QString, QString>>;

// The triggers of a virtual key-map file's text; none when the text is not XML or has no
// "conf" root.
std::optional<DeviceKeyMap> parseKeyMap(const QString& text, const KeyCodeLookup& hidCodeForKey,
                                        const RecordedPoints& points);
