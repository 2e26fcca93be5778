#include "update/update_environment.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include "base/engine_log.h"
#include "storage/safe_file_writer.h"

namespace update {
namespace {

QString pagesVersionPath(const Environment& environment) {
    return environment.appFolder + QStringLiteral("Resources/pages-version");
}

QMutex mutex;
Environment current;

}  // namespace

void setEnvironment(const Environment& environment) {
    QMutexLocker lock(&mutex);
    current = environment;
}

Environment environment() {
    QMutexLocker lock(&mutex);
    return current;
}

QString installedVersion(const Environment& environment, const QString& kind) {
    if (kind == QLatin1String("client"))
        return environment.clientVersion;
    if (kind == QLatin1String("firmware"))
        return environment.firmwareVersion;
    if (kind == QLatin1String("html")) {
        QFile file(pagesVersionPath(environment));
        if (file.open(QIODevice::ReadOnly))
            return QString::fromUtf8(file.read(64)).trimmed();
    }
    return QString();
}

void recordPagesVersion(const Environment& environment, const QString& version) {
    if (!storage::writeFileSafely(pagesVersionPath(environment), version.toUtf8()))
        ENGINE_LOG_INFO(QStringLiteral("Update Error: cannot record the pages' version"));
}

}  // namespace update
