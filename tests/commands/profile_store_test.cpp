#include "commands/profile_store.h"
#include "webhost/engine/engine_log.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "tests/commands/qt_printers.h"

#include <sys/resource.h>
#include <csignal>
#include <string>

namespace {

const char kQueryFailed[] = "queryProfile load xml file failed!";
const char kModifyFailed[] = "modifyProfileXml failed!";
const char kProfile[] = "<?xml version=\"1.0\"?>\n<profile>\n\t<dpi>800</dpi>\n</profile>\n";

class ProfileStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(root.isValid() && QDir(root.path()).mkdir("app")); }

    QString appFolder() const { return root.path() + "/app"; }
    QString inApp(const QString& name) const { return appFolder() + '/' + name; }

    static void writeFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    // As std::string so that a mismatch prints as text.
    static std::string readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    QTemporaryDir root;
    ProfileStore store{appFolder()};
};

TEST_F(ProfileStoreTest, QueryOfMissingFileFailsAndIsRetriedLater) {
    const ProfileAnswer missing = store.queryProfile("p.xml", "/");
    EXPECT_EQ(missing.kind, ProfileAnswer::Failure);
    EXPECT_EQ(missing.text, kQueryFailed);
    EXPECT_TRUE(store.profileCache().isEmpty());

    writeFile(inApp("p.xml"), kProfile);
    const ProfileAnswer found = store.queryProfile("p.xml", "/profile/dpi");
    EXPECT_EQ(found.kind, ProfileAnswer::Success);
    EXPECT_EQ(found.text, "<dpi>800</dpi>\n");
}

TEST_F(ProfileStoreTest, QueryPrintsSiblingsWithTabsFromDepthZero) {
    writeFile(inApp("p.xml"),
              "<?xml version=\"1.0\"?><root><a x=\"1\"><b>t</b></a><a x=\"2\"/></root>");
    const ProfileAnswer answer = store.queryProfile("p.xml", "/root/a");
    EXPECT_EQ(answer.kind, ProfileAnswer::Success);
    EXPECT_EQ(answer.text, "<a x=\"1\">\n\t<b>t</b>\n</a>\n<a x=\"2\" />\n");
}

TEST_F(ProfileStoreTest, QuerySelectingNoElementAnswersEmptyTextAndBadXPathFails) {
    writeFile(inApp("p.xml"), kProfile);
    for (const char* xpath : {"/profile/light", "//@*"}) {
        const ProfileAnswer answer = store.queryProfile("p.xml", xpath);
        EXPECT_EQ(answer.kind, ProfileAnswer::Success) << xpath;
        EXPECT_EQ(answer.text, "") << xpath;
    }
    for (const char* xpath : {"//[", "count(/profile)", ""}) {
        const ProfileAnswer answer = store.queryProfile("p.xml", xpath);
        EXPECT_EQ(answer.kind, ProfileAnswer::Failure) << xpath;
        EXPECT_EQ(answer.text, kQueryFailed) << xpath;
    }
}

TEST_F(ProfileStoreTest, UnicodeTextSurvivesReadQueryAndSave) {
    writeFile(inApp("keys.xml"), QString("<keys><k name=\"左键\"/></keys>").toUtf8());
    EXPECT_EQ(store.queryProfile("keys.xml", "//k").text, "<k name=\"左键\" />\n");
    store.modifyProfileXml("keys.xml", "<keys><k name=\"右键\"/></keys>");
    EXPECT_EQ(store.savexml().kind, ProfileAnswer::Success);
    EXPECT_NE(readFile(inApp("keys.xml")).find(QString("右键").toStdString()), std::string::npos);
}

TEST_F(ProfileStoreTest, ModifyCreatesNewFileAtOnceAndSavexmlRewritesIt) {
    const QString file = inApp("new.xml");
    const ProfileAnswer first =
        store.modifyProfileXml("new.xml", "<profile><dpi>800</dpi></profile>");
    EXPECT_EQ(first.kind, ProfileAnswer::Success);
    EXPECT_EQ(first.text, "modifyProfileXml success");
    EXPECT_EQ(readFile(file), kProfile);

    // The file exists now, so the next change stays in memory until saved.
    store.modifyProfileXml("new.xml", "<profile><dpi>1600</dpi></profile>");
    EXPECT_EQ(readFile(file), kProfile);
    EXPECT_EQ(store.queryProfile("new.xml", "//dpi").text, "<dpi>1600</dpi>\n");

    const ProfileAnswer saved = store.savexml();
    EXPECT_EQ(saved.kind, ProfileAnswer::Success);
    EXPECT_EQ(saved.text, "save xml success");
    EXPECT_EQ(readFile(file),
              "<?xml version=\"1.0\"?>\n<profile>\n\t<dpi>1600</dpi>\n</profile>\n");
    EXPECT_TRUE(store.dirtyProfiles().isEmpty());
}

TEST_F(ProfileStoreTest, ModifyLogsTheNewText) {
    const QString logPath = root.path() + "/app.log";
    ASSERT_TRUE(engine::Log::open(logPath, engine::LogSeverity::Info));
    store.modifyProfileXml("p.xml", "<profile><dpi>1600</dpi></profile>");
    engine::Log::close();
    EXPECT_NE(readFile(logPath).find("<dpi>1600</dpi>"), std::string::npos);
}

TEST_F(ProfileStoreTest, MalformedContentChangesNothing) {
    writeFile(inApp("p.xml"), kProfile);
    store.queryProfile("p.xml", "/");
    const QMap<QString, QString> cacheBefore = store.profileCache();

    for (const char* content : {"<profile><dpi>", "", "plain text"}) {
        for (const char* name : {"p.xml", "fresh.xml"}) {
            const ProfileAnswer answer = store.modifyProfileXml(name, content);
            EXPECT_EQ(answer.kind, ProfileAnswer::Failure);
            EXPECT_EQ(answer.text, kModifyFailed);
        }
    }
    EXPECT_EQ(store.profileCache(), cacheBefore);
    EXPECT_TRUE(store.dirtyProfiles().isEmpty());
    EXPECT_EQ(readFile(inApp("p.xml")), kProfile);
    EXPECT_FALSE(QFile::exists(inApp("fresh.xml")));
}

TEST_F(ProfileStoreTest, TwoModificationsListThePathOnce) {
    store.modifyProfileXml("a.xml", "<a/>");
    store.modifyProfileXml("b.xml", "<b/>");
    store.modifyProfileXml("a.xml", "<a x=\"1\"/>");
    EXPECT_EQ(store.dirtyProfiles(), (QStringList{inApp("a.xml"), inApp("b.xml")}));
}

TEST_F(ProfileStoreTest, SavexmlWithEmptyCacheGivesNoAnswer) {
    EXPECT_EQ(store.savexml().kind, ProfileAnswer::None);
    EXPECT_TRUE(store.flushProfiles());
}

TEST_F(ProfileStoreTest, SavexmlStopsAtAnUnopenableFile) {
    writeFile(inApp("a.xml"), "<a/>");
    writeFile(inApp("b.xml"), "<b/>");
    store.modifyProfileXml("a.xml", "<a x=\"1\"/>");
    store.modifyProfileXml("no-folder/c.xml", "<c/>");
    store.modifyProfileXml("b.xml", "<b x=\"1\"/>");
    const QStringList dirty = store.dirtyProfiles();
    ASSERT_EQ(dirty.size(), 3);

    EXPECT_EQ(store.savexml().kind, ProfileAnswer::None);
    EXPECT_NE(readFile(inApp("a.xml")).find("x=\"1\""), std::string::npos);
    EXPECT_EQ(readFile(inApp("b.xml")), "<b/>");
    EXPECT_EQ(store.dirtyProfiles(), dirty);
    EXPECT_FALSE(store.flushProfiles());
    EXPECT_EQ(store.dirtyProfiles(), dirty);
}

// Makes every write past `bytes` into any file fail, as a full disk would.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        active_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    bool active() const { return active_; }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
    bool active_ = false;
};

TEST_F(ProfileStoreTest, WriteFailingHalfWayKeepsOldProfileByteForByte) {
    const QString file = inApp("p.xml");
    writeFile(file, kProfile);
    QString large = "<profile>";
    for (int i = 0; i < 4000; ++i)
        large += QString("<key id=\"%1\"/>").arg(i);
    store.modifyProfileXml("p.xml", large + "</profile>");

    // Nothing is asserted while the limit holds: a failure message could not be written.
    ProfileAnswer saved;
    bool flushed = true;
    bool limited = false;
    {
        FileSizeLimit limit(4096);
        limited = limit.active();
        saved = store.savexml();
        flushed = store.flushProfiles();
    }
    ASSERT_TRUE(limited);
    EXPECT_EQ(saved.kind, ProfileAnswer::None);
    EXPECT_FALSE(flushed);
    EXPECT_EQ(readFile(file), kProfile);
    EXPECT_EQ(store.dirtyProfiles(), QStringList{file});
    EXPECT_EQ(QDir(appFolder()).entryList(QDir::Files), QStringList{"p.xml"});

    EXPECT_EQ(store.savexml().kind, ProfileAnswer::Success);
    EXPECT_EQ(readFile(file), store.cachedProfile(file).toStdString());
}

TEST_F(ProfileStoreTest, PathsLeavingTheApplicationFolderAreRefused) {
    const QString outside = root.path() + "/outside.xml";
    writeFile(outside, kProfile);
    for (const QString& path : {QString("../outside.xml"), QString("sub/../../outside.xml"),
                                QString("..\\outside.xml"), outside, QString("C:/outside.xml")}) {
        const ProfileAnswer query = store.queryProfile(path, "/");
        EXPECT_EQ(query.kind, ProfileAnswer::Failure) << path.toStdString();
        EXPECT_EQ(query.text, kQueryFailed);
        const ProfileAnswer modify = store.modifyProfileXml(path, "<evil/>");
        EXPECT_EQ(modify.kind, ProfileAnswer::Failure) << path.toStdString();
        EXPECT_EQ(modify.text, kModifyFailed);
    }
    EXPECT_TRUE(store.profileCache().isEmpty());
    EXPECT_TRUE(store.dirtyProfiles().isEmpty());
    EXPECT_EQ(readFile(outside), kProfile);
    EXPECT_EQ(QDir(root.path()).entryList(QDir::Files), QStringList{"outside.xml"});
    EXPECT_FALSE(store.cacheProfile(outside));
}

}  // namespace
