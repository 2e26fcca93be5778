#pragma once

// storage/: files and paths: saves that keep the old file when they fail, and the one rule for
// a path that must stay inside a folder (path_rule.h). May use base/.

#include <QByteArray>
#include <QString>

namespace storage {

enum class FileMode {
    Binary,
    Text,  // line ends as the platform writes them
};

// Replaces the whole content of the file at `path` so that a failed write keeps the old file:
// the content goes to a temporary file beside it, renamed over the old one once complete.
// Where the folder refuses new files but the file itself may be written, the file is written
// in place instead. Temporary files that an earlier, interrupted write of the same file left
// beside it are removed first. The folder must exist. Returns whether the file now holds
// `content`.
bool writeFileSafely(const QString& path, const QByteArray& content,
                     FileMode mode = FileMode::Binary);

}  // namespace storage
