#include "commands/page_query.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/commands/qt_printers.h"

namespace {

QVariant argument(const char* json) {
    const std::optional<QVariantMap> query =
        commands::parsePageQuery(QString("{\"funcname\":\"f\",\"a\":%1}").arg(json));
    EXPECT_TRUE(query.has_value()) << json;
    return query ? query->value("a") : QVariant();
}

TEST(PageQueryTest, OnlyAnObjectNamingItsCommandIsAQuery) {
    for (const char* text : {"", "goback", "[\"goback\"]", "42", "{\"name\":\"goback\"}",
                             "{\"funcname\":\"goback\"", "{} {}"}) {
        EXPECT_FALSE(commands::parsePageQuery(text).has_value()) << text;
    }
    const std::optional<QVariantMap> query =
        commands::parsePageQuery(" {\"funcname\":\"goback\",\"num\":5,\"url\":\"a\"}\n");
    ASSERT_TRUE(query.has_value());
    EXPECT_EQ(query->value("funcname").toString(), "goback");
    EXPECT_EQ(query->size(), 3);
}

TEST(PageQueryTest, NumbersReadAsDecimalText) {
    EXPECT_EQ(commands::argumentText(argument("5")), "5");
    EXPECT_EQ(commands::argumentText(argument("-12")), "-12");
    EXPECT_EQ(commands::argumentText(argument("0.25")), "0.25");
    EXPECT_EQ(commands::argumentText(argument("1e20")), "100000000000000000000");
    EXPECT_EQ(commands::argumentText(argument("1e-7")), "0.0000001");
    EXPECT_EQ(commands::argumentText(argument("\"0x10\"")), "0x10");
    EXPECT_EQ(commands::argumentText(QVariant()), "");
}

TEST(PageQueryTest, IntegersBeyondTheIntRangeAreHeldNotWrapped) {
    // Cut to 32 bits, 4294967297 would be 1: a valid level the page never asked for.
    constexpr int kMax = std::numeric_limits<int>::max();
    constexpr int kMin = std::numeric_limits<int>::min();
    EXPECT_EQ(commands::argumentNumber(argument("4294967297")), kMax);
    EXPECT_EQ(commands::argumentNumber(argument("\"4294967297\"")), kMax);
    EXPECT_EQ(commands::argumentNumber(argument("-4294967297")), kMin);
    EXPECT_EQ(commands::argumentNumber(argument("1e20")), kMax);
    EXPECT_EQ(commands::argumentNumber(argument("1e15")), kMax);
    EXPECT_EQ(commands::argumentNumber(argument("\"2147483648\"")), kMax);

    EXPECT_EQ(commands::argumentNumber(argument("7")), 7);
    EXPECT_EQ(commands::argumentNumber(argument("\" 7 \"")), 7);
    EXPECT_EQ(commands::argumentNumber(argument("2.5")), 3);
    EXPECT_EQ(commands::argumentNumber(argument("-2.5")), -3);
    // Anything else is 0.
    for (const char* json : {"\"seven\"", "\"2.5\"", "\"0x10\"", "true", "null", "[7]", "{}"})
        EXPECT_EQ(commands::argumentNumber(argument(json)), 0) << json;
    EXPECT_EQ(commands::argumentNumber(QVariant()), 0);
}

}  // namespace
