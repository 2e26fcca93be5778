// Start-up against the bare engine, measured in one run: the time from process start to the
// main page's first command (this program) and to the first query of a bare QtWebEngine +
// QWebChannel page (bench/bare_engine_baseline), alternating over several starts; this
// program's start-up timeline, phase by phase; and each process's memory (PSS) at idle, with
// the main page and with the settings page open.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kStarts = 9;
constexpr int kTimeoutMs = 60000;

qint64 monotonicMs() {
    QElapsedTimer now;
    now.start();
    return now.msecsSinceReference();
}

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

// An application folder whose main window shows `loadPath`.
void showPage(const QString& folder, const QString& loadPath) {
    QFile conf(folder + "/Resources/conf.xml");
    if (!conf.open(QIODevice::ReadWrite))
        return;
    QString text = QString::fromUtf8(conf.readAll());
    text.replace(QRegularExpression("loadPath=\"[^\"]*\""), "loadPath=\"" + loadPath + "\"");
    conf.resize(0);
    conf.write(text.toUtf8());
}

double median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Start {
    double firstQueryMs = -1;
    std::vector<std::pair<std::string, double>> phases;  // in the order they came
};

// Starts `program` and reads its output until `done` appears; the process is left running for
// the caller to look at, then ended.
class Started {
  public:
    Started(const QString& program, const QString& folder, bool timeline) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        // As the program itself does: the engine's sandbox refuses to run as root.
        environment.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        // Without a window system there is no OpenGL: pages render in software (the program
        // chooses this itself).
        environment.insert("QT_QUICK_BACKEND", "software");
        environment.insert("VELMORA_SIM_STATE", folder + "/sim.state");
        if (timeline)
            environment.insert("VELMORA_STARTUP_TIMELINE", "1");
        process_.setProcessEnvironment(environment);
        process_.setWorkingDirectory(folder);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        launchedAt_ = monotonicMs();
        process_.start(program, QStringList());
    }
    ~Started() {
        process_.terminate();
        if (!process_.waitForFinished(10000))
            process_.kill();
        QThread::msleep(300);
    }
    Start waitFor(const QByteArray& done) {
        Start start;
        QByteArray output;
        QElapsedTimer timer;
        timer.start();
        while (!output.contains(done) && timer.elapsed() < kTimeoutMs &&
               process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(5);
            output += process_.readAll();
        }
        if (!output.contains(done))
            return start;
        start.firstQueryMs = timer.elapsed();
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> parts = line.trimmed().split(' ');
            if (parts.size() >= 3 && parts[0] == "startup") {
                start.phases.push_back(
                    {line.trimmed().mid(parts[0].size() + parts[1].size() + 2).toStdString(),
                     double(parts[1].toLongLong() - launchedAt_)});
            }
        }
        return start;
    }
    qint64 pid() const { return process_.processId(); }

  private:
    QProcess process_;
    qint64 launchedAt_ = 0;
};

QByteArray readProc(qint64 pid, const char* file) {
    QFile f(QString("/proc/%1/%2").arg(pid).arg(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The process and every process below it, with a name for each.
std::vector<std::pair<qint64, std::string>> processTree(qint64 root) {
    std::map<qint64, qint64> parents;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QByteArray stat = readProc(pid, "stat");
        const int close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        parents[pid] = stat.mid(close + 2).split(' ').value(1).toLongLong();
    }
    std::vector<std::pair<qint64, std::string>> tree = {{root, "main process"}};
    for (size_t i = 0; i < tree.size(); ++i) {
        for (const auto& [pid, parent] : parents) {
            if (parent != tree[i].first)
                continue;
            std::string name = "child";
            for (const QByteArray& argument : readProc(pid, "cmdline").split('\0')) {
                if (argument.startsWith("--type="))
                    name = argument.mid(7).toStdString();
            }
            tree.push_back({pid, name});
        }
    }
    return tree;
}

double pssMiB(qint64 pid) {
    for (const QByteArray& line : readProc(pid, "smaps_rollup").split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

void printMemory(const char* what, const QString& program, const QString& folder) {
    Started started(program, folder, false);
    if (started.waitFor("funcname====getDevicesList").firstQueryMs < 0) {
        std::printf("memory, %s: the page sent no command\n", what);
        return;
    }
    QThread::sleep(4);  // idle: the page has settled and the first scans are done
    std::printf("memory at idle (PSS), %s:\n", what);
    double total = 0;
    for (const auto& [pid, name] : processTree(started.pid())) {
        const double mib = pssMiB(pid);
        total += mib;
        std::printf("  %-28s %7.1f MiB\n", name.c_str(), mib);
    }
    std::printf("  %-28s %7.1f MiB\n", "all processes", total);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    copyFolder(VELMORA_APP_DIR, folder.path());
    const QString program = folder.path() + "/velmora";
    const QString baseline = QCoreApplication::applicationDirPath() + "/bare_engine_baseline";

    std::vector<double> bare, ours;
    std::map<std::string, std::vector<double>> phases;
    std::vector<std::string> order;
    for (int run = 0; run < kStarts; ++run) {
        {
            Started started(baseline, folder.path(), false);
            bare.push_back(started.waitFor("first query").firstQueryMs);
        }
        Started started(program, folder.path(), true);
        // The timeline ends with the first command.
        const Start start = started.waitFor(" first command");
        for (const auto& [phase, ms] : start.phases) {
            if (!phases.count(phase))
                order.push_back(phase);
            phases[phase].push_back(ms);
            if (phase == "first command")
                ours.push_back(ms);
        }
    }
    const double bareMs = median(bare);
    const double oursMs = median(ours);
    std::printf("start to the first page command, median of %d starts each, alternating:\n",
                kStarts);
    std::printf("  %-44s %6.0f ms\n", "bare engine (one page, one QWebChannel query)", bareMs);
    std::printf("  %-44s %6.0f ms   %.2f x bare\n", "this program (main page, getDevicesList)",
                oursMs, bareMs > 0 ? oursMs / bareMs : 0.0);
    std::printf("timeline of this program, median ms since launch:\n");
    for (const std::string& phase : order)
        std::printf("  %-44s %6.0f\n", phase.c_str(), median(phases[phase]));

    printMemory("main page", program, folder.path());
    QTemporaryDir settingsFolder;
    copyFolder(VELMORA_APP_DIR, settingsFolder.path());
    showPage(settingsFolder.path(), "view/device/vm100/seting.html");
    printMemory("settings page open", settingsFolder.path() + "/velmora", settingsFolder.path());
    return 0;
}
