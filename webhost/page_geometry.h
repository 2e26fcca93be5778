#pragma once

#include <QSize>
#include <QString>

#include <optional>

namespace webhost {

// The file URL of a page below the application folder. `relative` may carry a query or a
// fragment, which stay part of the URL; a leading separator is optional.
QString applicationPageUrl(const QString& appFolder, const QString& relative);

// A window size a page or a configuration file gives as "width,height": both parts
// decimal and positive, else none.
std::optional<QSize> parseWindowSize(const QString& text);

// `size` shrunk to what the screens can show: a page must not make a window (and the
// engine's surface behind it) larger than the desktop.
QSize boundedToScreens(const QSize& size);

}  // namespace webhost
