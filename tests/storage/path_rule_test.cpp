#include "storage/path_rule.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString withUnits(const char* before, std::initializer_list<ushort> units, const char* after) {
    QString text = QString::fromLatin1(before);
    for (const ushort unit : units)
        text += QChar(unit);
    return text + QString::fromLatin1(after);
}

TEST(PathRule, DecidesOnTheTextAsWindowsAndLinuxBothReadIt) {
    for (const QString& inside :
         {QString(""), QString("downloads/"), QString("a/./b/"), QString("a/b..c/"),
          QString("name"), QString("profiles/vm100/macros.xml"), QString("./x.xml"),
          QString("a\\b.xml"), withUnits("emoji-", {0xD83D, 0xDE00}, ".xml")}) {
        EXPECT_TRUE(storage::isContainedRelativePath(inside)) << inside.toStdString();
    }
    for (const QString& outside :
         {QString("../"), QString("a/../../b/"), QString(".."), QString("a\\..\\b\\"),
          QString("/tmp/"), QString("\\\\srv\\x\\"), QString("C:/x/"), QString("c:x/"),
          QString("a/.. /"), QString("a/.../"), QString("a/. ./b"), QString("..\\x"),
          QString("file.xml:stream"), QString("new.xml") + QChar(0) + "junk",
          // A lone surrogate anywhere is no file name, and must not hide a ".." either.
          withUnits("../ESCAPE-", {0xD800}, ".xml"), withUnits("", {0xD800}, "/../../x.xml"),
          withUnits("a", {0xDC00}, "b"), withUnits("a", {0xD83D}, "")}) {
        EXPECT_FALSE(storage::isContainedRelativePath(outside)) << outside.toStdString();
    }
}

TEST(PathRule, JoinsInsideTheFolderAndRefusesLinksThatLeaveIt) {
    QTemporaryDir root;
    const QString app = root.path() + "/app";
    ASSERT_TRUE(QDir().mkpath(app + "/profiles"));
    ASSERT_TRUE(QDir().mkpath(root.path() + "/outside"));
    ASSERT_TRUE(QFile::link(root.path() + "/outside", app + "/escape"));
    ASSERT_TRUE(QFile::link(app + "/profiles", app + "/alias"));
    // Writing through a link that leads nowhere would make its target outside.
    ASSERT_TRUE(QFile::link(root.path() + "/outside/none.xml", app + "/dangling.xml"));

    EXPECT_EQ(storage::pathInside(app, "profiles/new/p.xml"), app + "/profiles/new/p.xml");
    EXPECT_EQ(storage::pathInside(app + "/", "dl/"), app + "/dl/");
    EXPECT_EQ(storage::pathInside(app, "alias/p.xml"), app + "/alias/p.xml");
    EXPECT_EQ(storage::pathInside(app, "escape/secret.xml"), "");
    EXPECT_EQ(storage::pathInside(app, "escape/new/folder/x"), "");
    EXPECT_EQ(storage::pathInside(app, "escape/" + QString(300, 'n')), "");
    EXPECT_EQ(storage::pathInside(app, "dangling.xml"), "");
    EXPECT_EQ(storage::pathInside(app, "../outside/x"), "");
    EXPECT_EQ(storage::pathInside("", "x"), "");
    EXPECT_EQ(storage::pathInside(root.path() + "/missing", "x"), "");
}

}  // namespace
