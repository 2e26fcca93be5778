// Time from process start until the main page has loaded and sent its first command, over a
// few starts of the real program from a copy of the application folder.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void copyFolder(const QString& from, const QString& to) {
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        if (source.contains("CMakeFiles") || source.contains("_autogen") ||
            source.endsWith(".log")) {
            continue;
        }
        const QString target = to + source.mid(from.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile::copy(source, target);
        QFile::setPermissions(target, QFile::permissions(source));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    copyFolder(VELMORA_APP_DIR, folder.path());
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("VELMORA_SIM_STATE", folder.path() + "/sim.state");
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(folder.path());
        program.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer timer;
        timer.start();
        program.start(folder.path() + "/velmora", QStringList());
        QByteArray output;
        // The main page asks for the device list as soon as its scripts run.
        while (!output.contains("funcname====getDevicesList") && timer.elapsed() < 60000) {
            program.waitForReadyRead(20);
            output += program.readAll();
        }
        times.push_back(timer.elapsed());
        program.terminate();
        if (!program.waitForFinished(10000))
            program.kill();
        QThread::msleep(200);
    }
    std::sort(times.begin(), times.end());
    std::printf("start to main page loaded over %zu starts: median %.0f ms, slowest %.0f ms\n",
                times.size(), times[times.size() / 2], times.back());
    return 0;
}
