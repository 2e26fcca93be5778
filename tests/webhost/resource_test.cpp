#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "webhost/local_resource.h"
#include "webhost/resource_reader.h"

namespace {

class ResourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(app_.isValid());
        pages_ = app_.path() + "/template/default/";
        ASSERT_TRUE(QDir().mkpath(pages_ + "image"));
        ASSERT_TRUE(QDir().mkpath(pages_ + "css"));
    }

    void write(const QString& relative, const QByteArray& bytes) {
        QFile file(pages_ + relative);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    void writeImage(const QString& relative, const char* format) {
        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(Qt::red);
        ASSERT_TRUE(image.save(pages_ + relative, format));
    }

    QByteArray serveScheme(const QString& url, QString* mime = nullptr) {
        webhost::LocalSchemeHandlerFactory factory(pages_);
        const engine::ResourceHandlerPtr handler = factory.create({}, "velmora", url);
        EXPECT_TRUE(handler->processRequest(url));
        if (mime)
            *mime = handler->mimeType();
        return readAll(handler);
    }

    static QByteArray readAll(const engine::ResourceHandlerPtr& handler) {
        QByteArray body;
        char piece[7];  // small pieces: the body must come in order, whatever the engine asks
        int read = 0;
        while (handler->readResponse(piece, sizeof(piece), read))
            body.append(piece, read);
        return body;
    }

    QTemporaryDir app_;
    QString pages_;
};

QString decodedImageFormat(const QString& dataUri) {
    const QByteArray bytes = QByteArray::fromBase64(dataUri.section(',', 1).toLatin1());
    QBuffer buffer;
    buffer.setData(bytes);
    return QString::fromLatin1(QImageReader(&buffer).format());
}

TEST_F(ResourceTest, StyleSheetImagesAreInlinedAndQuotedOnesLeftAlone) {
    writeImage("image/a.png", "PNG");
    write("css/main.css",
          "a { background: url(../image/a.png); }\n"
          "b { background: url(../image/a.png) no-repeat; }\n"
          "c { background: url(\"../image/a.png\"); }\n");
    const QString css =
        QString::fromUtf8(webhost::readResourceFile(pages_ + "css/main.css", pages_));
    EXPECT_EQ(css.count("url(data:image/png;base64,"), 2);
    EXPECT_TRUE(css.contains("c { background: url(\"../image/a.png\"); }"));
    EXPECT_FALSE(css.contains("url(../image/a.png)"));
}

// Decoding and encoding again is only for an image stored in another format than its label's.
TEST_F(ResourceTest, AnImageInItsLabelledFormatIsPassedOnAsStored) {
    writeImage("image/a.png", "PNG");
    QFile image(pages_ + "image/a.png");
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    EXPECT_EQ(webhost::imageDataUri(pages_, "image/a.png"),
              "data:image/png;base64," + image.readAll().toBase64());
}

TEST_F(ResourceTest, GifIsReencodedAsPngAndJpegStaysJpeg) {
    writeImage("image/anim.gif", "PNG");  // loaded by content, named .gif
    writeImage("image/photo.jpg", "JPG");
    write("page.html",
          "<img src=\"image/anim.gif\"><img src=\"image/photo.jpg\"><img src=\"other/x.jpg\">");
    const QString page = QString::fromUtf8(webhost::readResourceFile(pages_ + "page.html", pages_));
    const QString gif = page.section("src=\"", 1, 1).section('"', 0, 0);
    const QString jpg = page.section("src=\"", 2, 2).section('"', 0, 0);
    EXPECT_TRUE(gif.startsWith("data:image/png;base64,"));
    EXPECT_EQ(decodedImageFormat(gif), "png");
    EXPECT_TRUE(jpg.startsWith("data:image/jpg;base64,"));
    EXPECT_EQ(decodedImageFormat(jpg), "jpeg");
    EXPECT_TRUE(page.contains("src=\"other/x.jpg\""));
}

TEST_F(ResourceTest, MissingImageLeavesAnEmptyReference) {
    write("css/a.css", "x { background: url(../image/none.png); }");
    write("b.html", "<img src=\"image/none.png\">");
    EXPECT_EQ(webhost::readResourceFile(pages_ + "css/a.css", pages_), "x { background: url(); }");
    EXPECT_EQ(webhost::readResourceFile(pages_ + "b.html", pages_), "<img src=\"\">");
    EXPECT_TRUE(webhost::readResourceFile(pages_ + "absent.html", pages_).isEmpty());
}

TEST_F(ResourceTest, InterceptionChoosesTypeByUrl) {
    ASSERT_TRUE(QDir().mkpath(pages_ + "js"));
    write("a.properties", "k=v");
    write("js/app.js", "var a;");
    write("css/main.css", "p {}");
    const QString prefix = "velmora://settings/local/resources/";
    ASSERT_EQ(prefix.size(), webhost::kInterceptedPrefixLength);

    engine::ResourceHandlerPtr handler =
        webhost::LocalResourceHandler::intercept(pages_, prefix + "a.properties");
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->mimeType(), "text/html");
    handler = webhost::LocalResourceHandler::intercept(pages_, prefix + "js/app.js");
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->mimeType(), "application/javascript");
    EXPECT_EQ(readAll(handler), "var a;");
    handler = webhost::LocalResourceHandler::intercept(pages_, prefix + "css/main.css");
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->mimeType(), "text/css");
    EXPECT_TRUE(handler->headers().isEmpty());

    EXPECT_FALSE(webhost::LocalResourceHandler::intercept(pages_, prefix + "image/a.png"));
    EXPECT_FALSE(webhost::LocalResourceHandler::intercept(pages_, prefix + "missing.html"));
    EXPECT_FALSE(
        webhost::LocalResourceHandler::intercept(pages_, "velmora://settings/remote/a.html"));
}

TEST_F(ResourceTest, AZeroByteDoesNotCutAFileShort) {
    const QByteArray script("var a = '\0';\nexport const ready = true;", 39);
    write("zero.js", script);
    write("zero.html", QByteArray("<p>\0</p><img src=\"image/none.png\"><p>end</p>", 44));
    const QString prefix = "velmora://settings/local/resources/";
    const engine::ResourceHandlerPtr handler =
        webhost::LocalResourceHandler::intercept(pages_, prefix + "zero.js");
    ASSERT_TRUE(handler);
    EXPECT_EQ(readAll(handler), script);
    EXPECT_EQ(webhost::readResourceFile(pages_ + "zero.html", pages_),
              QByteArray("<p>\0</p><img src=\"\"><p>end</p>", 30));
}

TEST_F(ResourceTest, SchemeServesClientPagesWithHtmlAppendedAndHeaders) {
    write("index.html", "<p>main</p>");
    const QString prefix = "velmora://settings/local/clients/";
    ASSERT_EQ(prefix.size(), webhost::kSchemePrefixLength);
    QString mime;
    EXPECT_EQ(serveScheme(prefix + "index", &mime), "<p>main</p>");
    EXPECT_EQ(mime, "text/html");

    webhost::LocalSchemeHandlerFactory factory(pages_);
    const engine::ResourceHandlerPtr handler = factory.create({}, "velmora", prefix + "index");
    handler->processRequest(prefix + "index");
    EXPECT_EQ(handler->status(), 200);
    EXPECT_EQ(handler->responseLength(), 11);
    const auto headers = handler->headers();
    EXPECT_TRUE(headers.contains({"Cache-Control", "no-cache"}));
    EXPECT_TRUE(headers.contains({"Access-Control-Allow-Origin", "*"}));
    EXPECT_TRUE(headers.contains({"Access-Control-Allow-Credentials", "true"}));

    // A missing file is an empty 200 answer.
    EXPECT_TRUE(serveScheme(prefix + "nothing", &mime).isEmpty());
}

TEST_F(ResourceTest, NothingOutsideThePageFolderIsServed) {
    QFile secret(app_.path() + "/secret.html");
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();
    QFile::link(app_.path() + "/secret.html", pages_ + "link.html");
    const QString intercepted = "velmora://settings/local/resources/";
    const QString scheme = "velmora://settings/local/clients/";

    for (const QString& path : {QString("../../secret.html"), QString("..%2F..%2Fsecret.html"),
                                QString("%2e%2e/%2e%2e/secret.html"), QString("link.html"),
                                app_.path() + "/secret.html", QString("..\\..\\secret.html")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(webhost::LocalResourceHandler::intercept(pages_, intercepted + path));
    }
    EXPECT_TRUE(serveScheme(scheme + "../../secret").isEmpty());
    EXPECT_TRUE(serveScheme(scheme + "%2E%2E/%2E%2E/secret").isEmpty());
    EXPECT_TRUE(serveScheme(scheme + "link").isEmpty());

    // Images are held to the same folder.
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(app_.path() + "/outside.png"));
    EXPECT_TRUE(webhost::imageDataUri(pages_, "../../outside.png").isEmpty());
    EXPECT_FALSE(webhost::imageDataUri(pages_, "../default/../../outside.png").startsWith("data:"));
}

TEST(ResolveInsideFolder, AcceptsPlainNamesAndEncodedSpaces) {
    QTemporaryDir dir;
    QFile file(dir.path() + "/a b.html");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(webhost::resolveInsideFolder(dir.path() + "/", "a%20b.html"),
              QFileInfo(dir.path()).canonicalFilePath() + "/a b.html");
    EXPECT_TRUE(webhost::resolveInsideFolder("", "a.html").isEmpty());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // image plugins
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
