#include "storage/path_rule.h"

#include <QFileInfo>

#include <algorithm>

namespace storage {
namespace {

bool isSeparator(QChar c) {
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

// "..", "...", ". ." and the like. A lone "." stays where it is.
bool namesParent(const QString& text, int begin, int end) {
    int dots = 0;
    for (int i = begin; i < end; ++i) {
        if (text.at(i) == QLatin1Char('.'))
            ++dots;
        else if (text.at(i) != QLatin1Char(' '))
            return false;
    }
    return dots > 0 && end - begin > 1;
}

bool isValidUtf16(const QString& text) {
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= size || !text.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

// Where the nearest entry at or above `path` leads, links followed; "" when none exists or it
// is a link that leads nowhere (writing through it would make its target). Qt's canonical
// path of a name that does not exist is not to be trusted: for one too long it is the name.
QString canonicalExistingAncestor(QString path) {
    while (!path.isEmpty()) {
        const QFileInfo entry(path);
        if (entry.exists() || entry.isSymLink())
            return entry.canonicalFilePath();
        const int cut =
            std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
        if (cut <= 0)
            return QString();
        path.truncate(cut);
    }
    return QString();
}

}  // namespace

bool isContainedRelativePath(const QString& relative) {
    if (!isValidUtf16(relative))
        return false;
    if (!relative.isEmpty() && isSeparator(relative.at(0)))
        return false;
    int partBegin = 0;
    for (int i = 0; i <= relative.size(); ++i) {
        if (i < relative.size()) {
            const QChar c = relative.at(i);
            if (c.isNull() || c == QLatin1Char(':'))
                return false;
            if (!isSeparator(c))
                continue;
        }
        if (namesParent(relative, partBegin, i))
            return false;
        partBegin = i + 1;
    }
    return true;
}

QString pathInside(const QString& folder, const QString& relative) {
    if (folder.isEmpty() || !isContainedRelativePath(relative))
        return QString();
    QString base = folder;
    while (base.size() > 1 && isSeparator(base.back()))
        base.chop(1);
    const QString path = base + QLatin1Char('/') + relative;

    // A link inside the folder may still lead out of it.
    const QString root = QFileInfo(base).canonicalFilePath();
    if (root.isEmpty())
        return QString();
    const QString reached = canonicalExistingAncestor(path);
    if (reached != root && !reached.startsWith(root + QLatin1Char('/')))
        return QString();
    return path;
}

}  // namespace storage
