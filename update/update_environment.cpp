#include "update/update_environment.h"

#include <QMutex>
#include <QMutexLocker>

namespace update {
namespace {

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

}  // namespace update
