#pragma once

#include <QByteArray>
#include <QString>

namespace webhost {

// The application folder (with a trailing separator) and the page folder below it,
// template/default/. Set once at start; read from the engine's threads.
void setApplicationFolder(const QString& folder);
QString applicationFolder();
QString templateFolder();

// The absolute path of `relative` inside `folder`, or "" when it would leave the folder:
// ".." components (also percent-encoded), absolute paths, or links pointing elsewhere.
QString resolveInsideFolder(const QString& folder, const QString& relative);

// A page, script or style sheet with the images it refers to inlined as data URIs.
QByteArray readResourceFile(const QString& filePath);

// The image at `relative` below the template folder as a data URI, or "" when it cannot be
// loaded.
QString imageDataUri(const QString& relative);

}  // namespace webhost
