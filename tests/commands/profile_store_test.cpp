#include "commands/profile_store.h"
#include "base/engine_log.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include "tests/commands/qt_printers.h"

#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <functional>
#include <string>
#include <utility>

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

TEST_F(ProfileStoreTest, ADamagedFileIsKeptAsideUnderADatedNameAndNeverOverwritten) {
    const QByteArray truncated = QByteArray(kProfile).left(30);
    writeFile(inApp("macros.xml"), truncated);
    writeFile(inApp("empty.xml"), "");
    for (const char* name : {"macros.xml", "empty.xml"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(store.queryProfile(name, "/").text, kQueryFailed);
        const QString kept = store.damagedCopy(name);
        EXPECT_TRUE(kept.startsWith(QString(name) + ".damaged-")) << qPrintable(kept);
        EXPECT_FALSE(QFileInfo::exists(inApp(name)));
        EXPECT_TRUE(QFileInfo::exists(inApp(kept)));
    }
    EXPECT_EQ(readFile(inApp(store.damagedCopy("macros.xml"))), truncated.toStdString());
    // The next save makes a new file and leaves the damaged one as it was.
    ASSERT_EQ(store.modifyProfileXml("macros.xml", "<macros/>").kind, ProfileAnswer::Success);
    ASSERT_EQ(store.savexml().kind, ProfileAnswer::Success);
    EXPECT_EQ(readFile(inApp(store.damagedCopy("macros.xml"))), truncated.toStdString());
    // Neither a missing file nor a good one is damaged.
    EXPECT_EQ(store.queryProfile("none.xml", "/").kind, ProfileAnswer::Failure);
    EXPECT_EQ(store.damagedCopy("none.xml"), QString());
    writeFile(inApp("good.xml"), kProfile);
    EXPECT_EQ(store.queryProfile("good.xml", "/profile").kind, ProfileAnswer::Success);
    EXPECT_EQ(store.damagedCopy("good.xml"), QString());
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

TEST_F(ProfileStoreTest, APagesTextIsNotDecodedAgainByItsDeclaration) {
    // The page's text is characters already: "ü" stays "ü", whatever the declaration says.
    const QString sent = QString("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><p n=\"Grün\"/>");
    ASSERT_EQ(store.modifyProfileXml("p.xml", sent).kind, ProfileAnswer::Success);
    EXPECT_EQ(store.queryProfile("p.xml", "/p").text, QString("<p n=\"Grün\" />\n"));
    // Zero characters do not make it read as UTF-16 either.
    EXPECT_EQ(store.modifyProfileXml("z.xml", QString::fromUtf8("<\0a\0/\0>\0", 8)).kind,
              ProfileAnswer::Failure);
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

TEST_F(ProfileStoreTest, ModifyInAMissingFolderCreatesTheFolderOrFails) {
    const ProfileAnswer created =
        store.modifyProfileXml("view/device/m1/keys.xml", "<profile><dpi>800</dpi></profile>");
    EXPECT_EQ(created.kind, ProfileAnswer::Success);
    EXPECT_EQ(readFile(inApp("view/device/m1/keys.xml")), kProfile);

    // A file stands where the folder would have to be; a folder where the file would.
    writeFile(inApp("blocker"), "x");
    ASSERT_TRUE(QDir(appFolder()).mkdir("folder.xml"));
    for (const char* name : {"blocker/new.xml", "folder.xml"}) {
        const ProfileAnswer refused = store.modifyProfileXml(name, "<profile/>");
        EXPECT_EQ(refused.kind, ProfileAnswer::Failure) << name;
        EXPECT_EQ(refused.text, kModifyFailed);
        EXPECT_FALSE(store.profileCache().contains(inApp(name))) << name;
    }
    EXPECT_EQ(store.dirtyProfiles(), QStringList{inApp("view/device/m1/keys.xml")});
    EXPECT_EQ(readFile(inApp("blocker")), "x");
}

TEST_F(ProfileStoreTest, AnUnwritableProfileKeepsNoOtherFromBeingSaved) {
    writeFile(inApp("a.xml"), "<a/>");
    writeFile(inApp("b.xml"), "<b/>");
    writeFile(inApp("d.xml"), "<d/>");
    store.modifyProfileXml("a.xml", "<a x=\"1\"/>");
    store.modifyProfileXml("d.xml", "<d x=\"1\"/>");
    store.modifyProfileXml("b.xml", "<b x=\"1\"/>");
    ASSERT_EQ(store.dirtyProfiles().size(), 3);
    // A folder now stands where the file was.
    ASSERT_TRUE(QFile::remove(inApp("d.xml")) && QDir(appFolder()).mkdir("d.xml"));

    const QString logPath = root.path() + "/app.log";
    ASSERT_TRUE(engine::Log::open(logPath, engine::LogSeverity::Info));
    const ProfileAnswer saved = store.savexml();
    engine::Log::close();
    EXPECT_EQ(saved.kind, ProfileAnswer::None);
    EXPECT_NE(readFile(inApp("a.xml")).find("x=\"1\""), std::string::npos);
    EXPECT_NE(readFile(inApp("b.xml")).find("x=\"1\""), std::string::npos);
    EXPECT_EQ(store.dirtyProfiles(), QStringList{inApp("d.xml")});
    EXPECT_NE(readFile(logPath).find("Application Error: failed to write profile " +
                                     inApp("d.xml").toStdString()),
              std::string::npos);

    // The flush at close writes the others just as well.
    store.modifyProfileXml("b.xml", "<b x=\"2\"/>");
    EXPECT_FALSE(store.flushProfiles());
    EXPECT_NE(readFile(inApp("b.xml")).find("x=\"2\""), std::string::npos);
    EXPECT_EQ(store.dirtyProfiles(), QStringList{inApp("d.xml")});

    ASSERT_TRUE(QDir(appFolder()).rmdir("d.xml"));
    EXPECT_EQ(store.savexml().kind, ProfileAnswer::Success);
    EXPECT_EQ(readFile(inApp("d.xml")), "<?xml version=\"1.0\"?>\n<d x=\"1\" />\n");
    EXPECT_TRUE(store.dirtyProfiles().isEmpty());
}

// Runs `work` in a child process as a user without root's licence to ignore permissions;
// the child's exit status: 0 when `work` succeeded.
int runUnprivileged(const std::function<bool()>& work) {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
                _exit(2);
        }
        _exit(work() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_F(ProfileStoreTest, FolderThatRefusesNewFilesStillHasItsProfilesSaved) {
    const QString file = inApp("p.xml");
    writeFile(file, kProfile);
    store.modifyProfileXml("p.xml", "<profile><dpi>1600</dpi></profile>");

    const QFile::Permissions readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const QFile::Permissions enterable = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    const QFile::Permissions writable = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    ASSERT_TRUE(QFile::setPermissions(root.path(), readable | enterable | QFile::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(appFolder(), readable | enterable));
    ASSERT_TRUE(QFile::setPermissions(file, readable | writable));
    const int status =
        runUnprivileged([this] { return store.savexml().kind == ProfileAnswer::Success; });
    QFile::setPermissions(appFolder(), readable | enterable | QFile::WriteOwner);

    EXPECT_EQ(status, 0) << "1: not saved, 2: found no unprivileged user to run as";
    EXPECT_EQ(readFile(file),
              "<?xml version=\"1.0\"?>\n<profile>\n\t<dpi>1600</dpi>\n</profile>\n");
}

// What a save of `target` killed before its end leaves behind: a temporary file beside it,
// named by Qt's own template for that file.
QString interruptedSaveOf(const QString& target) {
    QTemporaryFile file(target);
    file.setAutoRemove(false);
    if (!file.open())
        return QString();
    file.write("<profile><dp");
    return file.fileName();
}

TEST_F(ProfileStoreTest, SavingRemovesWhatAnInterruptedSaveOfThatFileLeft) {
    writeFile(inApp("p.xml"), kProfile);
    const QString leftover = interruptedSaveOf(inApp("p.xml"));
    const QString otherLeftover = interruptedSaveOf(inApp("q.xml"));
    ASSERT_TRUE(leftover.startsWith(inApp("p.xml.")) && QFile::exists(leftover));
    ASSERT_TRUE(otherLeftover.startsWith(inApp("q.xml.")) && QFile::exists(otherLeftover));
    const QStringList unrelated{"p.xml.bak", "p.xml.AbCdEfG", "p.xml.AbC1Ef", "p.xmlAbCdEf",
                                "xp.xml.AbCdEf"};
    for (const QString& name : unrelated)
        writeFile(inApp(name), "keep");

    store.modifyProfileXml("p.xml", "<profile/>");
    EXPECT_EQ(store.savexml().kind, ProfileAnswer::Success);
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFile::exists(otherLeftover));
    for (const QString& name : unrelated)
        EXPECT_EQ(readFile(inApp(name)), "keep") << name.toStdString();

    // Creating a profile clears its leftovers the same way.
    store.modifyProfileXml("q.xml", "<q/>");
    EXPECT_FALSE(QFile::exists(otherLeftover));
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
    for (const QString& path :
         {QString("../outside.xml"), QString("sub/../../outside.xml"), QString("../made/new.xml"),
          QString("..\\outside.xml"), outside, QString("C:/outside.xml"),
          // A lone surrogate must not hide the step up.
          QString("../ESCAPE-") + QChar(0xD800) + ".xml",
          QString(QChar(0xD800)) + "/../outside.xml"}) {
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
    EXPECT_EQ(QDir(root.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"app"});
    EXPECT_TRUE(QDir(appFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(store.cacheProfile(outside));
}

TEST_F(ProfileStoreTest, APathWithAZeroCharacterIsRefusedAndWritesNothing) {
    // The file calls end the name at the zero: the save would go to "new.xml" and stay there.
    const QString path = QString("new.xml") + QChar(0) + "junk";
    EXPECT_TRUE(store.absolutePath(path).isEmpty());
    const ProfileAnswer modify = store.modifyProfileXml(path, "<p/>");
    EXPECT_EQ(modify.kind, ProfileAnswer::Failure);
    EXPECT_EQ(modify.text, kModifyFailed);
    EXPECT_EQ(store.queryProfile(path, "/").text, kQueryFailed);
    EXPECT_TRUE(QDir(appFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(ProfileStoreTest, PageQueriesAnswerAsTheyAlwaysDid) {
    writeFile(inApp("conf.xml"),
              "<?xml version=\"1.0\"?>\n<root>\n"
              "\t<client name=\"Quillmere\" version=\"2.1.0\" />\n"
              "\t<conf deviceId=\"04D9A0D2\">\n"
              "\t\t<productInfo device=\"vm100\" name=\"Quillmere VM100\" />\n\t</conf>\n"
              "\t<conf deviceId=\"it's\">\n"
              "\t\t<productInfo device=\"vm200\" name=\"Quillmere VM200\" />\n\t</conf>\n"
              "\t<profile>\n\t\t<dpi>\n"
              "\t\t\t<stage index=\"1\">400</stage>\n"
              "\t\t\t<stage index=\"2\">800</stage>\n"
              "\t\t\t<stage index=\"3\">1600</stage>\n"
              "\t\t</dpi>\n\t</profile>\n</root>\n");
    const std::string vm100 = "<productInfo device=\"vm100\" name=\"Quillmere VM100\" />\n";
    const std::string vm200 = "<productInfo device=\"vm200\" name=\"Quillmere VM200\" />\n";
    const std::string stage1 = "<stage index=\"1\">400</stage>\n";
    const std::string stage2 = "<stage index=\"2\">800</stage>\n";
    const std::string stage3 = "<stage index=\"3\">1600</stage>\n";
    const std::pair<const char*, std::string> queries[] = {
        {"/root/client", "<client name=\"Quillmere\" version=\"2.1.0\" />\n"},
        {"/root/conf[@deviceId ='04D9A0D2']/productInfo", vm100},
        {"/root/conf[@deviceId=concat('it', \"'\", 's')]/productInfo", vm200},
        {"/root/profile/dpi/stage[@index='2']", stage2},
        {"//stage[1] | //stage[last()]", stage1 + stage3},
        {"/root/profile/dpi/stage[. > 500 and position() < 3]", stage2},
        {"/root/*[name() = 'conf'][productInfo/@device = 'vm100']",
         "<conf deviceId=\"04D9A0D2\">\n\t" + vm100 + "</conf>\n"},
        {"//stage[contains(., '16')]", stage3},
        {"/root/profile/dpi[count(stage) = 3]/stage[translate(@index, '3', 'x') = 'x']", stage3},
        {"(//productInfo)[starts-with(@name, 'Quill') and substring-after(@device, 'vm') = 200]",
         vm200},
        {"child::root/self::*/client/attribute::name", ""},
        {"/root/profile/dpi/stage[@index = 9]", ""},
    };
    for (const auto& query : queries) {
        const ProfileAnswer answer = store.queryProfile("conf.xml", query.first);
        EXPECT_EQ(answer.kind, ProfileAnswer::Success) << query.first;
        EXPECT_EQ(answer.text.toStdString(), query.second) << query.first;
    }
}

// Expressions that meet every node once for each other node, or copy the whole profile for
// each: near a second on 6 000 elements, beyond half an hour on 300 000.
const char* const kRunawayQueries[] = {
    "//*[string-length(/) < 0]",
    "//stage[count(preceding::stage) = -1]",
    "//stage[count(following-sibling::*) < 0]",
    "/profile/stage[count(../stage) = 0]",
    "/profile[stage/@index = stage/@value]",
};

QByteArray stagesProfile(int stages) {
    QByteArray text = "<profile>";
    for (int i = 0; i < stages; ++i)
        text += "<stage index=\"" + QByteArray::number(i) + "\" value=\"v" + QByteArray::number(i) +
                "\"/>";
    return text + "</profile>";
}

TEST_F(ProfileStoreTest, QueriesWhoseWorkOutgrowsTheProfileAreRefusedOnlyWhereItIsLarge) {
    writeFile(inApp("small.xml"), stagesProfile(3));
    writeFile(inApp("large.xml"), stagesProfile(300000));
    const QString logPath = root.path() + "/app.log";
    ASSERT_TRUE(engine::Log::open(logPath, engine::LogSeverity::Info));
    for (const char* xpath : kRunawayQueries) {
        const ProfileAnswer large = store.queryProfile("large.xml", xpath);
        EXPECT_EQ(large.kind, ProfileAnswer::Failure) << xpath;
        EXPECT_EQ(large.text, kQueryFailed);
        EXPECT_EQ(store.queryProfile("small.xml", xpath).kind, ProfileAnswer::Success) << xpath;
    }
    // The size alone refuses nothing.
    const ProfileAnswer last = store.queryProfile("large.xml", "/profile/stage[@index='299999']");
    const ProfileAnswer found = store.queryProfile("large.xml", "//stage[@value='v7']");
    engine::Log::close();
    EXPECT_EQ(last.kind, ProfileAnswer::Success);
    EXPECT_EQ(last.text, "<stage index=\"299999\" value=\"v299999\" />\n");
    EXPECT_EQ(found.text, "<stage index=\"7\" value=\"v7\" />\n");
    EXPECT_NE(readFile(logPath).find(
                  "Application Error: XPath query refused as unbounded: //*[string-length(/) < 0]"),
              std::string::npos);
}

TEST_F(ProfileStoreTest, OrdinaryQueriesOfAnyShapeAreAnsweredOnASmallProfile) {
    writeFile(inApp("three.xml"), "<root><a><b>1</b></a><c>2</c></root>");
    const std::pair<const char*, const char*> queries[] = {
        {"/root//b", "<b>1</b>\n"},
        {"/root/a/b/..", "<a>\n\t<b>1</b>\n</a>\n"},
        {"/root/a[1]/following-sibling::c", "<c>2</c>\n"},
        {"//b[ancestor::root]", "<b>1</b>\n"},
    };
    for (const auto& query : queries) {
        const ProfileAnswer answer = store.queryProfile("three.xml", query.first);
        EXPECT_EQ(answer.kind, ProfileAnswer::Success) << query.first;
        EXPECT_EQ(answer.text.toStdString(), query.second) << query.first;
    }
}

TEST_F(ProfileStoreTest, AProfileNestedBeyondTheBoundIsRefusedAndSaysTheBound) {
    const auto nested = [](int levels) {
        return QString("<a>").repeated(levels) + QString("</a>").repeated(levels);
    };
    const QString logPath = root.path() + "/app.log";
    ASSERT_TRUE(engine::Log::open(logPath, engine::LogSeverity::Info));
    EXPECT_EQ(store.modifyProfileXml("ok.xml", nested(256)).kind, ProfileAnswer::Success);
    const ProfileAnswer deep = store.modifyProfileXml("deep.xml", nested(257));
    const ProfileAnswer huge = store.modifyProfileXml("huge.xml", nested(200000));
    engine::Log::close();
    for (const ProfileAnswer& refused : {deep, huge}) {
        EXPECT_EQ(refused.kind, ProfileAnswer::Failure);
        EXPECT_EQ(refused.text, kModifyFailed);
    }
    EXPECT_FALSE(QFileInfo::exists(inApp("deep.xml")));
    EXPECT_NE(readFile(logPath).find("profile nested deeper than 256 levels refused"),
              std::string::npos);
}

TEST_F(ProfileStoreTest, QueriesCopyingADeeplyNestedProfileAreRefused) {
    // Every string value and every printed element copies what lies below it.
    const auto nested = [](int levels) {
        QByteArray text;
        for (int i = 0; i < levels; ++i)
            text += "<a i=\"" + QByteArray::number(i) + "\">";
        for (int i = 0; i < levels; ++i)
            text += "</a>";
        return text;
    };
    writeFile(inApp("deep.xml"), nested(300000));
    writeFile(inApp("shallow.xml"), nested(40));
    for (const char* xpath : {"//a[. = 'x']", "//a[string-length() < 0]"}) {
        const ProfileAnswer deep = store.queryProfile("deep.xml", xpath);
        EXPECT_EQ(deep.kind, ProfileAnswer::Failure) << xpath;
        EXPECT_EQ(deep.text, kQueryFailed);
        const ProfileAnswer shallow = store.queryProfile("shallow.xml", xpath);
        EXPECT_EQ(shallow.kind, ProfileAnswer::Success) << xpath;
        EXPECT_EQ(shallow.text, "") << xpath;
    }
    EXPECT_EQ(store.queryProfile("shallow.xml", "//a[@i = 39]").text, "<a i=\"39\" />\n");
}

}  // namespace
