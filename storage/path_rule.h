#pragma once

#include <QString>

namespace storage {

// The one rule for a path that pages, packages, URLs and downloads name relative to a folder
// of ours. It is decided on the text, as Windows and Linux both would read it, before any file
// call: refused are text that is not valid UTF-16 (a lone surrogate has no file name), a zero
// character, a root or share ("/", "\"), a drive or stream (":"), and a part that is ".." in any
// spelling ("..", ". .", "... " and the like, since Windows drops trailing dots and spaces).
// Both "/" and "\" separate parts. An empty text names the folder itself.
bool isContainedRelativePath(const QString& relative);

// `folder` joined with `relative` as text ("<folder>/<relative>", no normalisation) when the rule
// above holds and the part of that path which exists, links followed, lies inside `folder` as well;
// "" otherwise. `folder` may end in a separator.
QString pathInside(const QString& folder, const QString& relative);

}  // namespace storage
