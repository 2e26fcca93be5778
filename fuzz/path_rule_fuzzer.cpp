// The one rule for paths that pages, packages, URLs and downloads name inside a folder. The
// input is read as UTF-16 code units, so lone surrogates and zero characters occur as they do
// in a page's JSON. Whatever the text, an accepted path names nothing outside the folder as
// Windows or Linux would read it, and a link never leads out.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTextCodec>

#include "fuzz/fuzz_support.h"
#include "fuzz/temp_app_folder.h"
#include "storage/path_rule.h"

namespace {

struct Setup {
    fuzz::TempAppFolder folder;
    QString root;  // the application folder, links followed

    Setup() {
        fuzz::silenceLogs();
        folder.write("profiles/p.xml", "<p/>");
        QFile::link(folder.root() + "/above", folder.app() + "/escape");
        QFile::link(folder.root() + "/above/none", folder.app() + "/dangling");
        root = QFileInfo(folder.app()).canonicalFilePath();
    }
};

QString utf16(const uint8_t* data, size_t size) {
    QString text;
    for (size_t i = 0; i + 1 < size; i += 2)
        text += QChar(ushort(data[i] | data[i + 1] << 8));
    return text;
}

// How Windows reads one part: trailing dots and spaces dropped.
QString windowsPart(QString part) {
    while (!part.isEmpty() && (part.endsWith(QLatin1Char('.')) || part.endsWith(QLatin1Char(' '))))
        part.chop(1);
    return part;
}

// Whether, read with both separators and Windows' trimming, the path climbs out.
bool climbsOut(const QString& relative) {
    QString unified = relative;
    unified.replace(QLatin1Char('\\'), QLatin1Char('/'));
    int depth = 0;
    for (const QString& part : unified.split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            --depth;
        else if (!part.isEmpty() && part != QLatin1String(".") && !windowsPart(part).isEmpty())
            ++depth;
        if (depth < 0)
            return true;
        // ".. ", ". ." and the like may read as ".." there.
        if (part.size() > 1 && part.contains(QLatin1Char('.')) && windowsPart(part).isEmpty())
            return true;
    }
    return false;
}

// Qt's UTF-8 encoder counts a lone surrogate as invalid, and holds one that ends the text.
bool validUtf16(const QString& text) {
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QTextCodec::codecForMib(106)->fromUnicode(text.constData(), text.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    const QString relative = utf16(data, size);
    const bool contained = storage::isContainedRelativePath(relative);
    if (contained) {
        fuzz::check(validUtf16(relative), "accepted text is valid UTF-16");
        fuzz::check(!relative.contains(QChar(0)), "accepted text holds no zero character");
        fuzz::check(!relative.contains(QLatin1Char(':')), "accepted text names no drive or stream");
        fuzz::check(
            !relative.startsWith(QLatin1Char('/')) && !relative.startsWith(QLatin1Char('\\')),
            "accepted text is relative");
        fuzz::check(!climbsOut(relative), "accepted text never climbs out of the folder");
        // A step up added anywhere is refused.
        fuzz::check(!storage::isContainedRelativePath(relative + QStringLiteral("/../..")),
                    "appending \"..\" is refused");
        fuzz::check(!storage::isContainedRelativePath(QStringLiteral("..\\") + relative),
                    "prefixing \"..\" is refused");
    }

    const QString path = storage::pathInside(setup.folder.app(), relative);
    fuzz::check(path.isEmpty() || contained, "pathInside follows the rule");
    if (!path.isEmpty()) {
        fuzz::check(path == setup.folder.app() + QLatin1Char('/') + relative,
                    "the path is the folder joined with the text");
        // The part that exists, links followed, lies inside the folder.
        QString existing = path;
        while (!QFileInfo::exists(existing) && !QFileInfo(existing).isSymLink() &&
               existing.contains(QLatin1Char('/')))
            existing.truncate(existing.lastIndexOf(QLatin1Char('/')));
        const QString reached = QFileInfo(existing).canonicalFilePath();
        fuzz::check(reached == setup.root || reached.startsWith(setup.root + QLatin1Char('/')),
                    "no link leads out of the folder");
    }
    return 0;
}
