#pragma once

#include <QByteArray>
#include <QString>

namespace webhost {

// The page folder below an application folder (given with a trailing separator):
// template/default/.
QString pageFolderOf(const QString& appFolder);

// The absolute path of `relative` inside `folder`, or "" when it would leave the folder:
// ".." components (also percent-encoded), absolute paths, or links pointing elsewhere.
QString resolveInsideFolder(const QString& folder, const QString& relative);

// A page, script or style sheet with the images it refers to (below `pageFolder`) inlined as
// data URIs.
QByteArray readResourceFile(const QString& filePath, const QString& pageFolder);

// The image at `relative` below `pageFolder` as a data URI, or "" when it cannot be loaded.
QString imageDataUri(const QString& pageFolder, const QString& relative);

}  // namespace webhost
