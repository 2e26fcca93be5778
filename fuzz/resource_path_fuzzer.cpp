// Resource paths: the URLs pages load through the local resource scheme and the request
// interception, and the image references inside the pages and style sheets served. Whatever
// the path, a file is served only from below the page folder, or nothing is.

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QStringList>

#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "fuzz/temp_app_folder.h"
#include "fuzz/text_input.h"
#include "webhost/local_resource.h"
#include "webhost/resource_reader.h"

namespace {

// Texts only the files outside the page folder hold.
const QByteArray kOutsideMarker = "OUTSIDE-THE-PAGE-FOLDER";
const QByteArray kResourcesMarker = "RESOURCES-NOT-A-PAGE";

QByteArray pngOf(QRgb colour) {
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

struct Setup {
    fuzz::TempAppFolder folder;
    QString pages;
    QString outsideImageBase64;

    Setup() {
        fuzz::silenceLogs();
        const QString page = QStringLiteral("template/default/");
        folder.write(page + "index.html",
                     "<html><body><img src=\"image/logo.png\"><img src=\"image/missing.png\">"
                     "<script src=\"js/main.js\"></script></body></html>");
        folder.write(page + "css/main.css",
                     "body { background: url(../image/logo.png); }\n.a { background: "
                     "url('../image/logo.png'); }");
        folder.write(page + "js/main.js", "export const ready = true;");
        folder.write(page + "client.html", "<p>client</p>");
        folder.write(page + "strings.properties", "title=Quillmere");
        folder.write(page + "image/logo.png", pngOf(qRgb(0x22, 0x25, 0x29)));
        folder.write("Resources/conf.xml", "<root>" + kResourcesMarker + "</root>");
        const QByteArray outsidePng = pngOf(qRgb(0xff, 0x00, 0x00));
        folder.write("outside/secret.html", kOutsideMarker);
        folder.write("outside/secret.css", kOutsideMarker);
        folder.write("outside/image/secret.png", outsidePng);
        // Links inside the page folder that lead out of it.
        pages = folder.app() + QLatin1Char('/') + page;
        QFile::link(folder.app() + "/outside", pages + "escape");
        QFile::link(folder.app() + "/outside/secret.html", pages + "secret-link.html");
        QFile::link(folder.app() + "/outside/image/secret.png", pages + "image/secret-link.png");
        outsideImageBase64 = QString::fromLatin1(pngReencoded(outsidePng).toBase64());
        // The checks below mean something only if inlining works here at all.
        const QByteArray logo = pngReencoded(pngOf(qRgb(0x22, 0x25, 0x29))).toBase64();
        if (!webhost::readResourceFile(pages + "index.html", pages).contains(logo))
            qFatal("the page folder's own image is not inlined");
    }

    // The outside image as the reader would inline it.
    static QByteArray pngReencoded(const QByteArray& png) {
        QImage image;
        image.loadFromData(png);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "png");
        return bytes;
    }
};

Setup& setup() {
    static Setup instance;
    return instance;
}

// Served bytes: nothing from outside the page folder.
void checkServed(const QByteArray& data, int markersInRequest) {
    fuzz::check(data.count(kOutsideMarker) <= markersInRequest && !data.contains(kResourcesMarker),
                "nothing outside the page folder is served");
    fuzz::check(!data.contains(setup().outsideImageBase64.toLatin1()),
                "no image outside the page folder is inlined");
}

// Reads a handler's answer in pieces of the given sizes.
QByteArray readAll(engine::ResourceHandler& handler, const QString& sizes) {
    QByteArray data;
    char piece[64];
    int turn = 0;
    int bytesRead = 0;
    for (;;) {
        const int want =
            std::max(1, sizes.isEmpty() ? 64 : sizes.at(turn++ % sizes.size()).unicode() % 64 + 1);
        if (!handler.readResponse(piece, want, bytesRead))
            break;
        fuzz::check(bytesRead > 0 && bytesRead <= want, "a read gives what was asked for at most");
        data.append(piece, bytesRead);
    }
    fuzz::check(bytesRead == 0, "the end reads nothing");
    fuzz::check(handler.responseLength() == data.size(), "the length announced is what is read");
    return data;
}

bool isMime(const QString& mime) {
    return mime == QLatin1String("text/html") || mime == QLatin1String("application/javascript") ||
           mime == QLatin1String("text/css");
}

void resolve(const QString& relative) {
    const QString folder = setup().pages;
    const QString path = webhost::resolveInsideFolder(folder, relative);
    if (path.isEmpty())
        return;
    const QString root = QFileInfo(folder).canonicalFilePath();
    const QString clean = QDir::cleanPath(path);
    fuzz::check(clean == root || clean.startsWith(root + QLatin1Char('/')),
                "a resolved path names a place inside the page folder");
    const QFileInfo info(path);
    if (info.exists()) {
        const QString canonical = info.canonicalFilePath();
        fuzz::check(canonical == root || canonical.startsWith(root + QLatin1Char('/')),
                    "a resolved file lies inside the page folder, links followed");
    }
}

void intercept(const QString& url, const QString& sizes) {
    const engine::ResourceHandlerPtr handler =
        webhost::LocalResourceHandler::intercept(setup().pages, url);
    if (!handler)
        return;
    fuzz::check(url.contains(QLatin1String("local")), "only local URLs are intercepted");
    fuzz::check(isMime(handler->mimeType()) && handler->status() == 200,
                "an intercepted answer is a page, script or style sheet");
    fuzz::check(handler->processRequest(url), "an intercepted request is taken");
    const QByteArray data = readAll(*handler, sizes);
    fuzz::check(!data.isEmpty(), "only files with content are intercepted");
    checkServed(data, url.toUtf8().count(kOutsideMarker));
}

void scheme(const QString& url, const QString& sizes) {
    webhost::LocalResourceHandler handler(webhost::LocalResourceHandler::Route::Scheme,
                                          setup().pages);
    fuzz::check(handler.processRequest(url), "the scheme takes every request");
    fuzz::check(isMime(handler.mimeType()) && handler.status() == 200,
                "a scheme answer is a page or a script");
    checkServed(readAll(handler, sizes), url.toUtf8().count(kOutsideMarker));
}

// A page or style sheet of the page's own making, read as the reader serves it.
void read(const QString& name, const QString& content) {
    Setup& s = setup();
    const QString path = s.pages + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content.toUtf8());
    file.close();
    const QByteArray served = webhost::readResourceFile(path, s.pages);
    QFile::remove(path);
    checkServed(served, content.toUtf8().count(kOutsideMarker));
    const bool refers = name.endsWith(QLatin1String(".css"))
                            ? content.contains(QLatin1String("url("))
                            : content.contains(QLatin1String("src=\"image/"));
    if (!refers)
        fuzz::check(served == content.toUtf8(), "a file without image references is served whole");
}

}  // namespace

// The input: a first line naming what is fed the rest ("resolve", "intercept", "scheme",
// "url" for any URL to both routes, "css" or "html" for a file's content), a second line of
// characters whose codes give the sizes the engine reads the answer in, and the path, URL or
// content.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup& s = setup();
    fuzz::Lines input(fuzz::bytes(data, size));
    const QString mode = input.take();
    const QString sizes = input.take();
    const QString text = input.rest();
    if (mode == QLatin1String("resolve")) {
        resolve(text);
    } else if (mode == QLatin1String("intercept")) {
        intercept(QStringLiteral("velmora://settings/local/resources/") + text, sizes);
    } else if (mode == QLatin1String("scheme")) {
        scheme(QStringLiteral("velmora://settings/local/clients/") + text, sizes);
    } else if (mode == QLatin1String("url")) {
        intercept(text, sizes);
        scheme(text, sizes);
    } else if (mode == QLatin1String("css")) {
        read(QStringLiteral("fuzz.css"), text);
    } else {
        read(QStringLiteral("fuzz.html"), text);
    }
    fuzz::check(s.folder.outsideUntouched(), "nothing outside the application folder changes");
    return 0;
}
