// Serving a page whose 20 pictures are inlined on every request.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "webhost/local_resource.h"
#include "webhost/resource_reader.h"

namespace {

QString makePageWithImages(const QTemporaryDir& app, int count) {
    const QString pages = app.path() + "/template/default/";
    QDir().mkpath(pages + "image");
    QString html = "<html><body>";
    for (int i = 0; i < count; ++i) {
        QImage image(64, 64, QImage::Format_ARGB32);
        image.fill(QColor::fromHsv(i * 17 % 360, 200, 200));
        const QString name = QString("image/icon%1.%2").arg(i).arg(i % 2 ? "png" : "jpg");
        image.save(pages + name);
        html += QString("<img src=\"%1\">").arg(name);
    }
    html += "</body></html>";
    QFile page(pages + "index.html");
    page.open(QIODevice::WriteOnly);
    page.write(html.toUtf8());
    return "velmora://settings/local/resources/index.html";
}

void BM_ServePageWith20InlinedImages(benchmark::State& state) {
    QTemporaryDir app;
    const QString url = makePageWithImages(app, 20);
    qint64 bytes = 0;
    for (auto _ : state) {
        const engine::ResourceHandlerPtr handler =
            webhost::LocalResourceHandler::intercept(webhost::pageFolderOf(app.path() + "/"), url);
        char piece[64 * 1024];
        int read = 0;
        while (handler->readResponse(piece, sizeof(piece), read))
            bytes += read;
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ServePageWith20InlinedImages)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "default.debug=false");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
