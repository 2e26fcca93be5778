#include "commands/profile_store.h"
#include "storage/safe_file_writer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTrials = 300;

// A file that the saves under test write, and its two versions; the saves alternate between
// them, so that the old and the new content always differ.
struct SavedFile {
    QString name;
    QByteArray versions[2];
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Where a kill found the save it ended.
enum class KilledAt { BeforeSave, InSave, AfterSave };

// Runs `save` in a child process and kills that after `delay`, whatever it is doing by then.
KilledAt killDuring(const std::function<bool()>& save, std::chrono::microseconds delay) {
    // The child reports the start and the end of its save through the pipe.
    int report[2];
    if (pipe(report) != 0) {
        ADD_FAILURE() << "no pipe to the saving process";
        return KilledAt::BeforeSave;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        const char mark = 'x';
        ssize_t written = write(report[1], &mark, 1);
        const bool saved = save();
        written += write(report[1], &mark, 1);
        _exit(saved && written == 2 ? 0 : 1);
    }
    close(report[1]);
    if (child > 0) {
        std::this_thread::sleep_for(delay);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
    } else {
        ADD_FAILURE() << "no process to save in";
    }
    char marks[2];
    const ssize_t count = read(report[0], marks, 2);
    close(report[0]);
    return count <= 0 ? KilledAt::BeforeSave : count == 1 ? KilledAt::InSave : KilledAt::AfterSave;
}

// Whether `name` is a file of `files` or a temporary file the writer names after one: Qt's
// save file, six ASCII letters appended. On file systems that support unnamed files it shows
// only between linking the written file into the folder and renaming it over the old one.
bool isSavedOrTemporary(const QString& name, const std::vector<SavedFile>& files) {
    return std::any_of(files.begin(), files.end(), [&](const SavedFile& file) {
        const QRegularExpression temporary("^" + QRegularExpression::escape(file.name) +
                                           "\\.[A-Za-z]{6}$");
        return name == file.name || temporary.match(name).hasMatch();
    });
}

// Kills `save` (which writes the given version of every file in `folder`) at random moments,
// from before its start to after its end, and checks every file after every kill: the old or
// the new content, never anything else, and beside it at most a temporary file of the
// writer; after a kill inside a save, the next save leaves the files alone in the folder.
// Returns how many kills landed inside a save.
int killSavesAtRandom(const QString& folder, const std::vector<SavedFile>& files,
                      const std::function<bool(int)>& save) {
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("random seed " + std::to_string(seed));
    std::mt19937 random(seed);

    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(save(0));
    const qint64 saveMicroseconds = std::max<qint64>(timer.nsecsElapsed() / 1000, 100);
    std::uniform_int_distribution<qint64> delay(0, 3 * saveMicroseconds);

    QStringList names;
    for (const SavedFile& file : files)
        names << file.name;
    names.sort();

    std::vector<int> held(files.size(), 0);
    int inSave = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        const int version = 1 - held.front();
        const KilledAt killed =
            killDuring([&] { return save(version); }, std::chrono::microseconds(delay(random)));

        for (size_t i = 0; i < files.size(); ++i) {
            const QByteArray content = readAll(folder + '/' + files[i].name);
            if (content == files[i].versions[version]) {
                held[i] = version;
            } else if (content != files[i].versions[held[i]]) {
                ADD_FAILURE() << files[i].name.toStdString() << " torn by the kill in trial "
                              << trial << ": " << content.size() << " bytes";
                return inSave;
            }
        }
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
            if (!isSavedOrTemporary(name, files)) {
                ADD_FAILURE() << "trial " << trial << " left " << name.toStdString();
                return inSave;
            }
        }
        if (killed != KilledAt::InSave)
            continue;
        ++inSave;
        EXPECT_TRUE(save(version));
        std::fill(held.begin(), held.end(), version);
        for (const SavedFile& file : files)
            EXPECT_EQ(readAll(folder + '/' + file.name), file.versions[version]);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), names)
            << "after trial " << trial;
    }
    return inSave;
}

// Large enough for a save to take a while.
QByteArray keyTable(const char* code) {
    QByteArray text = "<profile>";
    for (int key = 0; key < 20000; ++key)
        text += "<key id=\"" + QByteArray::number(key) + "\" code=\"" + code + "\"/>";
    return text + "</profile>";
}

// Fewer kills inside a save would leave the checks above with hardly a case.
constexpr int kFewestInSave = kTrials / 100;

TEST(InterruptedSave, ProfilesAreOldOrNewWhereverTheSaveIsKilled) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString folder = root.path();
    // Two profiles changed in one store each, saved together by savexml.
    std::vector<SavedFile> files{{"p.xml", {}}, {"keys.xml", {}}};
    std::vector<ProfileStore> stores(2, ProfileStore(folder));
    for (int version = 0; version < 2; ++version) {
        ProfileStore& store = stores[size_t(version)];
        ASSERT_EQ(store.modifyProfileXml("p.xml", keyTable(version ? "0x05" : "0x04")).kind,
                  ProfileAnswer::Success);
        ASSERT_EQ(store.modifyProfileXml("keys.xml", keyTable(version ? "0x2a" : "0x2b")).kind,
                  ProfileAnswer::Success);
        for (SavedFile& file : files)
            file.versions[version] = store.cachedProfile(folder + '/' + file.name).toUtf8();
    }
    // Each save works on a copy, so that the store stays dirty for the next one.
    const int inSave = killSavesAtRandom(folder, files, [&](int version) {
        ProfileStore store = stores[size_t(version)];
        return store.savexml().kind == ProfileAnswer::Success;
    });
    EXPECT_GE(inSave, kFewestInSave);
}

TEST(InterruptedSave, ConfIsOldOrNewWhereverTheSaveIsKilled) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid() && QDir(root.path()).mkdir("Resources"));
    const QString folder = root.path() + "/Resources";
    SavedFile conf{"conf.xml", {}};
    for (int version = 0; version < 2; ++version) {
        QByteArray text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<root>\n\t<client name=\"" +
                          QByteArray(version ? "Quillmere" : "Velmora") + "\" />\n";
        for (int model = 0; model < 20000; ++model)
            text += "\t<conf deviceId=\"" + QByteArray::number(model, 16) +
                    "\">\n\t\t<productInfo device=\"vm100\" />\n\t</conf>\n";
        conf.versions[version] = text + "</root>\n";
    }
    // Application::saveConf writes its configuration text just so.
    const int inSave = killSavesAtRandom(folder, {conf}, [&](int version) {
        return storage::writeFileSafely(folder + "/conf.xml", conf.versions[version]);
    });
    EXPECT_GE(inSave, kFewestInSave);
}

}  // namespace
