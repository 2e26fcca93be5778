// The update service's JSON answer to the check request.
//
// Each input is read twice: as the answer's bytes, where the decision is compared with a reading
// of the same text by an independent JSON reader; and as choices that build an answer whose
// decision is known in advance (codes written as 0, 0.0, -0, "0", 1e0 …, a "ret" that is or is
// not an object, "type" and "deployment" of every JSON type, duplicate members).

#include <fuzzer/FuzzedDataProvider.h>

#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/qt_json_leak.h"
#include "fuzz/strict_json.h"
#include "update/update_check.h"

namespace {

using fuzz::json::Value;
using Kind = UpdateAnswer::Kind;

std::u16string units(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
}

QStringList splitAtCommas(const std::u16string& text) {
    QStringList parts;
    QString part;
    for (const char16_t c : text) {
        if (c == u',') {
            parts.append(part);
            part.clear();
        } else {
            part.append(QChar(c));
        }
    }
    parts.append(part);
    return parts;
}

// A number the check can act on: integral and within int.
bool integralCode(const std::string& number, int& code) {
    const double value = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value) || value != std::trunc(value) || value < INT_MIN || value > INT_MAX)
        return false;
    code = int(value);
    return true;
}

// Numbers whose conversion leaves the double range: readers differ on those.
bool hasOutOfRangeNumber(const Value& value) {
    switch (value.type) {
        case Value::Type::Number: {
            const double d = std::strtod(value.number.c_str(), nullptr);
            if (std::isinf(d))
                return true;
            if (d == 0) {
                const size_t e = value.number.find_first_of("eE");
                const std::string mantissa = value.number.substr(0, e);
                return mantissa.find_first_of("123456789") != std::string::npos;
            }
            return false;
        }
        case Value::Type::Array:
            for (const Value& item : value.items) {
                if (hasOutOfRangeNumber(item))
                    return true;
            }
            return false;
        case Value::Type::Object:
            for (const auto& member : value.members) {
                if (hasOutOfRangeNumber(member.second))
                    return true;
            }
            return false;
        default:
            return false;
    }
}

struct Expected {
    Kind kind = Kind::Ignored;
    bool opensDialog = false;
    bool deploymentIsText = false;
    std::u16string deployment;
    bool typeIsText = false;
    std::u16string type;
};

// The decision for a document, read as the service describes the answer (a later duplicate
// member wins).
Expected expectedFor(const Value& document) {
    Expected expected;
    if (document.type != Value::Type::Object)
        return expected;
    const Value* code = document.member(u"code");
    if (!code)
        return expected;
    int number = -1;
    if (code->type != Value::Type::Number || !integralCode(code->number, number))
        return expected;
    const Value* ret = document.member(u"ret");
    if (number == 0 && ret) {
        expected.kind = Kind::Offer;
        if (ret->type == Value::Type::Object) {
            const Value* type = ret->member(u"type");
            const Value* deployment = ret->member(u"deployment");
            if (type && type->type == Value::Type::String) {
                expected.typeIsText = true;
                expected.type = type->text;
            }
            if (deployment && deployment->type == Value::Type::String) {
                expected.deploymentIsText = true;
                expected.deployment = deployment->text;
            }
        }
        expected.opensDialog = expected.type == u"0" && !expected.deployment.empty();
    } else if (number == 1) {
        expected.kind = Kind::Current;
    }
    return expected;
}

void checkAgainst(const UpdateAnswer& answer, const Expected& expected, const char* what) {
    fuzz::check(answer.kind == expected.kind, what);
    fuzz::check(answer.opensDialog == expected.opensDialog, what);
    if (expected.kind != Kind::Offer)
        return;
    const QStringList deployment =
        expected.deployment.empty() ? QStringList() : splitAtCommas(expected.deployment);
    fuzz::check(answer.deployment == deployment, what);
    fuzz::check(answer.ret.value(QLatin1String("type")).isString() == expected.typeIsText &&
                    units(answer.ret.value(QLatin1String("type")).toString()) == expected.type,
                what);
    fuzz::check(
        answer.ret.value(QLatin1String("deployment")).isString() == expected.deploymentIsText &&
            units(answer.ret.value(QLatin1String("deployment")).toString()) == expected.deployment,
        what);
}

// What holds for every answer, whatever its bytes.
void checkConsistent(const UpdateAnswer& answer) {
    if (answer.kind != Kind::Offer) {
        fuzz::check(answer.ret.isEmpty() && answer.deployment.isEmpty() && !answer.opensDialog,
                    "only an offer carries a description");
        return;
    }
    const QString deployment = answer.ret.value(QLatin1String("deployment")).toString();
    fuzz::check(answer.deployment.join(QLatin1Char(',')) == deployment,
                "the deployment list joins back to the deployment text");
    fuzz::check(answer.deployment.isEmpty() == deployment.isEmpty(),
                "an empty deployment names no package");
    fuzz::check(answer.opensDialog ==
                    (!deployment.isEmpty() &&
                     answer.ret.value(QLatin1String("type")).toString() == QLatin1String("0")),
                "the dialog opens exactly for type \"0\" with a deployment");
}

void checkBytes(const QByteArray& body) {
    if (fuzz::meetsQtsReplacedContainerLeak(body))
        return;
    const UpdateAnswer answer = readUpdateAnswer(body);
    const UpdateAnswer again = readUpdateAnswer(body);
    fuzz::check(again.kind == answer.kind && again.ret == answer.ret &&
                    again.deployment == answer.deployment &&
                    again.opensDialog == answer.opensDialog,
                "reading an answer is deterministic");
    checkConsistent(answer);

    int depth = 0;
    const std::optional<Value> document = fuzz::json::parse(body, depth);
    // Qt's reader stops at 1024 levels and at numbers beyond the double range.
    if (!document || depth > 1000 || hasOutOfRangeNumber(*document))
        return;
    checkAgainst(answer, expectedFor(*document), "a valid answer is read as the service means it");
}

// A whitespace run between tokens.
QByteArray space(FuzzedDataProvider& choices) {
    static const char* const runs[] = {"", " ", "\n", "\t ", "\r\n  "};
    return runs[choices.ConsumeIntegralInRange<int>(0, 4)];
}

std::u16string someText(FuzzedDataProvider& choices) {
    const std::string bytes = choices.ConsumeRandomLengthString(24);
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(char16_t(quint8(bytes[i]) | quint8(bytes[i + 1]) << 8));
    // Commas and plain names, so that lists of several packages come up.
    static const char16_t* const words[] = {u"client", u"html", u"firmware", u",", u""};
    return text + words[choices.ConsumeIntegralInRange<int>(0, 4)];
}

// A JSON value of some type other than a string.
QByteArray otherValue(FuzzedDataProvider& choices) {
    static const char* const values[] = {"0", "null", "true", "[]", "{}", "[\"0\"]", "-1.5e3"};
    return values[choices.ConsumeIntegralInRange<int>(0, 6)];
}

QByteArray object(const std::vector<std::pair<QByteArray, QByteArray>>& members,
                  FuzzedDataProvider& choices) {
    QByteArray text = "{" + space(choices);
    for (size_t i = 0; i < members.size(); ++i) {
        if (i > 0)
            text += "," + space(choices);
        text += "\"" + members[i].first + "\"" + space(choices) + ":" + space(choices) +
                members[i].second + space(choices);
    }
    return text + "}";
}

void checkBuilt(FuzzedDataProvider& choices) {
    struct CodeForm {
        const char* text;
        int code;  // -1: none the check acts on
    };
    static const CodeForm codes[] = {
        {"0", 0},           {"1", 1},           {"2", -1},           {"-1", -1},
        {"0.0", 0},         {"-0", 0},          {"1e0", 1},          {"10E-1", 1},
        {"0.5", -1},        {"\"0\"", -1},      {"\"1\"", -1},       {"true", -1},
        {"null", -1},       {"[0]", -1},        {"{}", -1},          {"2147483648", -1},
        {"4294967296", -1}, {"4294967297", -1}, {"-2147483649", -1}, {"1.0000000000000001", 1},
    };
    constexpr int kCodes = int(sizeof codes / sizeof codes[0]);

    Expected expected;
    std::vector<std::pair<QByteArray, QByteArray>> members;
    int code = -1;
    bool hasCode = false;
    bool hasRet = false;
    const int count = choices.ConsumeIntegralInRange<int>(0, 5);
    for (int i = 0; i < count; ++i) {
        switch (choices.ConsumeIntegralInRange<int>(0, 3)) {
            case 0: {  // "code", a later one replacing an earlier one
                const CodeForm& form = codes[choices.ConsumeIntegralInRange<int>(0, kCodes - 1)];
                members.emplace_back("code", form.text);
                code = form.code;
                hasCode = true;
                break;
            }
            case 1: {  // "ret"
                expected.typeIsText = false;
                expected.type.clear();
                expected.deploymentIsText = false;
                expected.deployment.clear();
                hasRet = true;
                if (choices.ConsumeBool()) {
                    members.emplace_back("ret", otherValue(choices));
                    break;
                }
                std::vector<std::pair<QByteArray, QByteArray>> ret;
                const int fields = choices.ConsumeIntegralInRange<int>(0, 4);
                for (int f = 0; f < fields; ++f) {
                    const int which = choices.ConsumeIntegralInRange<int>(0, 2);
                    const bool isText = choices.ConsumeBool();
                    const std::u16string text = which == 0 && choices.ConsumeBool()
                                                    ? std::u16string(u"0")
                                                    : someText(choices);
                    const QByteArray value = isText ? fuzz::json::quote(text) : otherValue(choices);
                    if (which == 0) {
                        ret.emplace_back("type", value);
                        expected.typeIsText = isText;
                        expected.type = isText ? text : std::u16string();
                    } else if (which == 1) {
                        ret.emplace_back("deployment", value);
                        expected.deploymentIsText = isText;
                        expected.deployment = isText ? text : std::u16string();
                    } else {
                        ret.emplace_back("clientPackage", value);
                    }
                }
                members.emplace_back("ret", object(ret, choices));
                break;
            }
            default:
                members.emplace_back("msg", fuzz::json::quote(someText(choices)));
                break;
        }
    }
    if (hasCode && code == 0 && hasRet) {
        expected.kind = Kind::Offer;
        expected.opensDialog = expected.type == u"0" && !expected.deployment.empty();
    } else if (hasCode && code == 1) {
        expected = Expected{};
        expected.kind = Kind::Current;
    } else {
        expected = Expected{};
    }
    const QByteArray text = space(choices) + object(members, choices) + space(choices);
    if (fuzz::meetsQtsReplacedContainerLeak(text))
        return;
    checkAgainst(readUpdateAnswer(text), expected, "a built answer is read as it was meant");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkBytes(fuzz::bytes(data, size));
    FuzzedDataProvider choices(data, size);
    checkBuilt(choices);
    return 0;
}
