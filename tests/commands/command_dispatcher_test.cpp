// The dispatcher against a host of the test's own: what a command answers when the program
// runs without the input filter and the system's settings service.

#include "commands/command_dispatcher.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSharedPointer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "commands/page_query.h"
#include "commands/profile_store.h"
#include "device/device_functions.h"
#include "macro/mouse_track_recorder.h"

namespace {

// The command table, in matching order.
const QStringList kCommandTable = {
    "getDevicesList",
    "readDevicesDpiVal",
    "readDevicesProp",
    "writeDevicesProp",
    "readByAddr",
    "writeByAddr",
    "isPropEmpty",
    "cleanMacroByAddr",
    "writeMacroByAddr",
    "loadurl",
    "queryProfile",
    "modifyProfileXml",
    "keyMapChanged",
    "mouseTracks",
    "goback",
    "goforward",
    "savexml",
    "modifyMouseAcce",
    "modifyMouseSpeed",
    "modifyMouseAccel",
    "modifyMouseScrollLines",
    "modifyMouseScrollLinesX",
    "modifyMouseDoubleClick",
    "getWindowsMouseConfig",
    "getWindowsKeyboreadConfig",
    "closeX",
    "closeApp",
    "saveFileDialog",
    "openFileDialog",
    "openUrl",
    "downloadFile",
    "openView",
    "closeView",
    "sendMsgToMainBrowser",
    "openFileDialogEx",
    "setIME",
    "setVDevice",
    "closeVDevice",
    "playActions",
    "exportProfileFile",
    "importProfileFile",
    "damagedProfile",
};

struct Answer {
    bool success;
    QString text;
};

class RecordingCallback : public engine::QueryCallback {
  public:
    void Success(const QString& response) override { answers.append({true, response}); }
    void Failure(int, const QString& message) override { answers.append({false, message}); }
    QList<Answer> answers;
};

// No filter, no platform services, no views.
class FakeHost : public CommandHost {
  public:
    explicit FakeHost(const QString& folder) : folder_(folder), profiles_(folder) {}

    QString appFolder() const override { return folder_ + "/"; }
    platform::Services* services() override { return nullptr; }
    DeviceFunctions& deviceFunctions() override { return device_; }
    ProfileStore& profiles() override { return profiles_; }
    const QString& keyDefinitionFile() const override { return keyDefinitionFile_; }
    void setKeyDefinitionFile(const QString& name) override { keyDefinitionFile_ = name; }
    DEVICE_FILTER* deviceFilter() const override { return nullptr; }
    MouseTrackRecorder& mouseTracks() override { return tracks_; }
    void playActions(const QString& actions) override { played.append(actions); }
    ClientHandler* pageBridge() override { return nullptr; }
    QCefWebView* mainView() const override { return nullptr; }
    QWidget* dialogParent() override { return nullptr; }
    QString askFileToSave(const FileQuestion& question) override {
        asked.append(question);
        return chosen;
    }
    QString askFileToOpen(const FileQuestion& question) override {
        asked.append(question);
        return chosen;
    }
    void openPopup(const QString&, const QSize&, const QString&) override {}
    void closeCurrentPopup() override {}
    void addDownload(wrapFileDownload*) override {}
    std::optional<QString> closeFunction() override { return std::nullopt; }
    void quitApp() override {}
    void oncloseApp() override {}

    QStringList played;
    QString chosen;  // what the user picks in the dialogs; empty: cancelled
    QList<FileQuestion> asked;

  private:
    QString folder_;
    QString keyDefinitionFile_ = QStringLiteral("mouse1.1.xml");
    DeviceFunctions device_;
    ProfileStore profiles_;
    MouseTrackRecorder tracks_{nullptr};
};

class CommandDispatcherTest : public ::testing::Test {
  protected:
    QList<Answer> send(const QString& text) {
        const auto callback = QSharedPointer<RecordingCallback>::create();
        const std::optional<QVariantMap> query = commands::parsePageQuery(text);
        if (query)
            dispatcher_.dispatch(query->value("funcname").toString(), *query, callback);
        return callback->answers;
    }
    static bool answeredOnce(const QList<Answer>& answers, const QString& success) {
        return answers.size() == 1 && answers[0].success && answers[0].text == success;
    }

    QTemporaryDir folder_;
    FakeHost host_{folder_.path()};
    CommandDispatcher dispatcher_{host_};
};

TEST(CommandTable, NamesAreTheTableInOrder) {
    EXPECT_EQ(CommandDispatcher::commandNames(), kCommandTable);
}

TEST_F(CommandDispatcherTest, InputEngineCommandsWithoutAFilterAnswerAsTheTableSays) {
    // Required arguments missing or empty: no answer.
    for (const QString& text : QStringList{
             "{\"funcname\":\"keyMapChanged\",\"deviceId\":\"d\"}",
             "{\"funcname\":\"keyMapChanged\",\"virtualXmlPath\":\"m.xml\"}",
             "{\"funcname\":\"setVDevice\",\"virtualXmlPath\":\"\",\"deviceId\":\"d\"}",
             "{\"funcname\":\"closeVDevice\",\"deviceId\":\"\"}",
             "{\"funcname\":\"playActions\",\"actionList\":\"\"}",
             "{\"funcname\":\"playActions\",\"actionList\":\"按下(A)\"}",
             "{\"funcname\":\"mouseTracks\",\"status\":\"pause\"}",
             "{\"funcname\":\"mouseTracks\"}",
             "{\"funcname\":\"modifyMouseSpeed\"}",
             "{\"funcname\":\"getWindowsMouseConfig\",\"HardwareID\":\"x\"}",
         }) {
        EXPECT_TRUE(send(text).isEmpty()) << qPrintable(text);
    }
    const auto failed = [](const QList<Answer>& answers, const QString& text) {
        return answers.size() == 1 && !answers[0].success && answers[0].text == text;
    };
    EXPECT_TRUE(failed(
        send("{\"funcname\":\"setVDevice\",\"virtualXmlPath\":\"m.xml\",\"deviceId\":\"d\"}"),
        "setVDevice failed!"));
    EXPECT_TRUE(
        failed(send("{\"funcname\":\"closeVDevice\",\"deviceId\":\"d\"}"), "closeVDevice failed!"));
    // Without the system's settings service the setters fail; out-of-range levels always do.
    EXPECT_TRUE(failed(send("{\"funcname\":\"modifyMouseDoubleClick\",\"num\":12}"),
                       "modifyMouseDoubleClick failed"));
    EXPECT_TRUE(failed(send("{\"funcname\":\"modifyMouseScrollLines\",\"num\":\"3\"}"),
                       "modifyMouseScrollLinesY failed"));
    EXPECT_TRUE(answeredOnce(send("{\"funcname\":\"setIME\"}"), "setIME success!"));
    EXPECT_TRUE(answeredOnce(send("{\"funcname\":\"mouseTracks\",\"status\":\"开始\"}"),
                             "mouseTracks success"));
    EXPECT_TRUE(answeredOnce(send("{\"funcname\":\"mouseTracks\",\"status\":\"停止\"}"), ""));
    EXPECT_TRUE(send("{\"funcname\":\"modifyMouseAccel\"}").isEmpty());
}

TEST_F(CommandDispatcherTest, ProfilesGoToAndComeFromWhereverTheUserChoseOnly) {
    QTemporaryDir elsewhere;  // outside the application folder
    const QString file = elsewhere.filePath("VM100 2026-12-08.pfd");
    const QString profile = "<profile name=\"p\"><dpi level=\"1\"/></profile>";
    const auto exported = [&](const QString& content, const QString& chosen) {
        host_.chosen = chosen;
        return send(QString("{\"funcname\":\"exportProfileFile\","
                            "\"fileName\":\"VM100/../2026-12-08\",\"contentStr\":%1}")
                        .arg(QString::fromUtf8(
                                 QJsonDocument(QJsonArray{content}).toJson(QJsonDocument::Compact))
                                 .mid(1)
                                 .chopped(1)));
    };
    const auto failed = [](const QList<Answer>& answers, const QString& text) {
        return answers.size() == 1 && !answers[0].success && answers[0].text == text;
    };

    // The dialogs speak the pages' language.
    const auto chooseLanguage = [&](const char* language) {
        ASSERT_EQ(
            host_.profiles()
                .modifyProfileXml("profiles/ui.xml", QString("<ui language=\"%1\"/>").arg(language))
                .kind,
            ProfileAnswer::Success);
    };
    chooseLanguage("en");
    EXPECT_TRUE(answeredOnce(exported(profile, file), file));
    ASSERT_FALSE(host_.asked.isEmpty());
    EXPECT_EQ(host_.asked.last().title, "Export profile");
    // The proposed name keeps no folder of the page's.
    EXPECT_TRUE(host_.asked.last().start.endsWith("/VM100..2026-12-08.pfd"))
        << qPrintable(host_.asked.last().start);
    EXPECT_TRUE(failed(exported(profile, ""), "doesn't select file"));
    EXPECT_TRUE(failed(exported("not xml <", file), "not a profile"));
    EXPECT_TRUE(failed(exported(profile, elsewhere.filePath("missing/x.pfd")), "cannot write"));
    // A name without a suffix gets the profile's.
    EXPECT_TRUE(answeredOnce(exported(profile, elsewhere.filePath("plain")),
                             elsewhere.filePath("plain.pfd")));

    chooseLanguage("zh");
    host_.chosen = file;
    const QList<Answer> imported = send("{\"funcname\":\"importProfileFile\"}");
    ASSERT_EQ(imported.size(), 1);
    ASSERT_TRUE(imported[0].success);
    const QJsonObject read = QJsonDocument::fromJson(imported[0].text.toUtf8()).object();
    EXPECT_EQ(read.value("path").toString(), file);
    EXPECT_EQ(read.value("text").toString().trimmed(), profile);
    EXPECT_EQ(host_.asked.last().title, "导入配置文件");
    host_.chosen = "";
    EXPECT_TRUE(failed(send("{\"funcname\":\"importProfileFile\"}"), "doesn't select file"));
    host_.chosen = elsewhere.filePath("none.pfd");
    EXPECT_TRUE(failed(send("{\"funcname\":\"importProfileFile\"}"), "cannot read"));
    QFile large(elsewhere.filePath("large.pfd"));
    ASSERT_TRUE(large.open(QIODevice::WriteOnly));
    large.resize(4 * 1024 * 1024 + 1);
    large.close();
    host_.chosen = large.fileName();
    EXPECT_TRUE(failed(send("{\"funcname\":\"importProfileFile\"}"), "too large"));
}

}  // namespace
