// The two text forms macros are built from: the action text of "playActions" and virtual
// key-map files.

#include <gtest/gtest.h>

#include "macro/action_text.h"
#include "macro/key_map_parser.h"
#include "macro/mouse_track_recorder.h"
#include "tests/commands/qt_printers.h"

void PrintTo(const MacroAction& a, std::ostream* out) {
    *out << a.type.toStdString() << '=' << a.value.toStdString();
}

namespace {

QString codes(const QString& name) {
    static const QMap<QString, QString> table = {
        {"A", "0x04"}, {"C", "0x06"}, {"CTRL", "0xE0"}, {"ENTER", "0x28"}};
    return table.value(name);
}

MacroAction action(const char* type, const char* value) {
    return {QString::fromUtf8(type), QString::fromUtf8(value)};
}

using Actions = QList<MacroAction>;

TEST(ActionText, NamesBecomeActionsInOrder) {
    EXPECT_EQ(parseActionText("按下(A)延迟( 50 )弹起(A)", codes),
              (Actions{action("down", "0x04"), action("delayTime", "50"), action("up", "0x04")}));
    EXPECT_EQ(parseActionText("左键单击()右键单击()按下左键()弹起右键()位移( 10,20 )", codes),
              (Actions{action("mouseDown", "1"), action("mouseUp", "1"), action("mouseDown", "2"),
                       action("mouseUp", "2"), action("mouseDown", "1"), action("mouseUp", "2"),
                       action("mouseMove", "10,20")}));
    // Unknown names add nothing; unknown or lower-case keys give an empty code.
    EXPECT_EQ(parseActionText("跳(A)按下(a)按下(NOPE)))", codes),
              (Actions{action("down", ""), action("down", "")}));
    EXPECT_TRUE(parseActionText("", codes).isEmpty());
    EXPECT_TRUE(parseActionText("按下", codes).size() == 1);  // no "(": argument empty
}

const char* kMap = R"x(<conf>
  <b1 scanCode="30" flag="0" playType="2" playCount="3"><s task="macro" value="按下(A)延迟(50)弹起(A)"/></b1>
  <b2 scanCode="30" flag="0" playType="1"><s task="MACRO" value="按下(C)"/></b2>
  <b3 scanCode="4" flag="10"><s task="hotkey" value="ctrl + c"/></b3>
  <b4 scanCode="16" flag="10"><s task="mouse" value="单击中键()"/></b4>
  <b5 scanCode="64" flag="10"><s task="text" value="hello"/></b5>
  <b6 scanCode="75" flag="1"><s task="keybroad" value=" enter "/></b6>
  <b7 scanCode="77" flag="1"><s task="shortcut" value="C:/a.exe"/></b7>
  <b8 scanCode="78" flag="1"/>
  <b9 scanCode="79" flag="1"><s task="Custom" value="v"/></b9>
  <b10 scanCode="80" flag="1"><s task="macro" value="按下(Q)(A)弹起(A)跳(A)"/></b10>
</conf>)x";

TEST(KeyMap, TriggersAndTasksFromTheFile) {
    const std::optional<DeviceKeyMap> map = parseKeyMap(kMap, codes, {});
    ASSERT_TRUE(map);
    // The later element with the same trigger wins.
    const MacroTask scan30 = map->value({30, 0});
    EXPECT_EQ(scan30.playType, 1);
    EXPECT_EQ(scan30.playCount, 0);
    EXPECT_EQ(scan30.actions, Actions{action("down", "0x06")});
    EXPECT_EQ(map->value({4, 10}).actions, Actions{action("hotKey", "0xE0,0x06")});
    EXPECT_EQ(map->value({16, 10}).actions, Actions{action("mouse", "4")});
    EXPECT_EQ(map->value({64, 10}).actions, Actions{action("text", "HELLO")});
    EXPECT_EQ(map->value({75, 1}).actions, Actions{action("keybroad", "0x28")});
    EXPECT_EQ(map->value({77, 1}).actions, Actions{action("shortcut", "C:/A.EXE")});
    EXPECT_FALSE(map->contains({78, 1}));  // no task element
    EXPECT_EQ(map->value({79, 1}).actions, Actions{action("CUSTOM", "V")});
    // Keys without a code and unknown names drop out of a macro.
    EXPECT_EQ(map->value({80, 1}).actions, Actions{action("up", "0x04")});
}

TEST(KeyMap, MacroValueOfThePartsExample) {
    const auto map = parseKeyMap(
        R"x(<conf><k scanCode="30" flag="0"><t task="MACRO" value="按下(A)延迟(50)弹起(A)"/></k></conf>)x",
        codes, {});
    ASSERT_TRUE(map);
    EXPECT_EQ(map->value({30, 0}).actions,
              (Actions{action("down", "0x04"), action("delayTime", "50"), action("up", "0x04")}));
}

TEST(KeyMap, MouseMovePlaysRecordedPointsOrNothing) {
    const QString file =
        R"x(<conf><r scanCode="4" flag="10"><t task="mousemove" value="单击右键()"/></r>
                 <l scanCode="8" flag="10"><t task="mousemove" value="单击左键()"/></l></conf>)x";
    const auto empty = parseKeyMap(file, codes, {});
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->value({4, 10}).actions.isEmpty());
    EXPECT_EQ(empty->value({8, 10}).actions, Actions{action("MOUSEMOVE", "单击左键()")});

    const auto points = parseKeyMap(file, codes, {{"1", "2"}, {"30", "40"}});
    EXPECT_EQ(points->value({4, 10}).actions,
              (Actions{action("mouseMove", "1,2"), action("delayTime", "1000"),
                       action("mouseMove", "30,40")}));
    EXPECT_EQ(MouseTrackRecorder::points("x:1,y:2Time:5;x:-30,y:40Time:9;junk"),
              (RecordedPoints{{"1", "2"}, {"-30", "40"}}));
}

TEST(KeyMap, TextThatIsNoKeyMapIsRefused) {
    for (const char* text : {"", "<conf", "<other/>", "not xml at all"})
        EXPECT_FALSE(parseKeyMap(text, codes, {})) << text;
    EXPECT_TRUE(parseKeyMap("<conf/>", codes, {})->isEmpty());
    // Numbers that are not u16 read as 0.
    const auto odd = parseKeyMap(
        R"x(<conf><k scanCode="70000" flag="x" playType="y"><t task="TEXT" value="v"/></k></conf>)x",
        codes, {});
    EXPECT_TRUE(odd->contains({0, 0}));
    EXPECT_EQ(odd->value({0, 0}).playType, 0);
}

}  // namespace
