// The Content-Range header of a download reply and what the download does with the reply.
//
// The first byte picks the reply's status and how many bytes are already on disk (relative to
// the range when there is one); the rest is the header's value.

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <optional>
#include <regex>
#include <string>

#include "fuzz/fuzz_support.h"
#include "update/http_range.h"

namespace {

using update::ContentRange;
using update::ReplyStart;

// A number of the header as the C library reads it; none beyond 64 bits.
std::optional<qint64> number(const std::string& digits) {
    errno = 0;
    const long long value = std::strtoll(digits.c_str(), nullptr, 10);
    if (errno == ERANGE)
        return std::nullopt;
    return qint64(value);
}

// The header read by a pattern of its grammar, apart from the parser under test.
std::optional<ContentRange> reference(const std::string& value) {
    static const std::regex grammar(
        "[ \\t]*[bB][yY][tT][eE][sS][ \\t]+(?:([0-9]+)-([0-9]+)/([0-9]+|\\*)|\\*/([0-9]+))[ \\t]*");
    std::smatch match;
    if (!std::regex_match(value, match, grammar))
        return std::nullopt;
    ContentRange range;
    if (match[4].matched) {
        const std::optional<qint64> total = number(match[4]);
        if (!total)
            return std::nullopt;
        range.total = *total;
        return range;
    }
    const std::optional<qint64> first = number(match[1]);
    const std::optional<qint64> last = number(match[2]);
    if (!first || !last)
        return std::nullopt;
    range.first = *first;
    range.last = *last;
    if (match[3] != "*") {
        const std::optional<qint64> total = number(match[3]);
        if (!total)
            return std::nullopt;
        range.total = *total;
    }
    if (range.first > range.last || (range.total >= 0 && range.last >= range.total))
        return std::nullopt;
    return range;
}

bool same(const ContentRange& a, const ContentRange& b) {
    return a.first == b.first && a.last == b.last && a.total == b.total;
}

ReplyStart expectedStart(int status, qint64 downloaded, const std::optional<ContentRange>& range) {
    if (status != 0 && status != 200 && status != 206 && status != 416)
        return ReplyStart::BadStatus;
    if (status == 206) {
        return range && range->total >= 0 && range->first == downloaded ? ReplyStart::Append
                                                                        : ReplyStart::OtherPart;
    }
    return downloaded > 0 ? ReplyStart::Restart : ReplyStart::Append;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArray value = fuzz::bytes(data + 1, size - 1);
    const std::optional<ContentRange> range = update::parseContentRange(value);
    const std::optional<ContentRange> expected =
        reference(std::string(value.constData(), size_t(value.size())));

    fuzz::check(range.has_value() == expected.has_value(),
                "a range is taken exactly when its grammar and numbers hold");
    if (range) {
        fuzz::check(same(*range, *expected), "a range's numbers are the decimal numbers written");
        if (range->first < 0) {
            fuzz::check(range->last < 0 && range->total >= 0,
                        "an unsatisfied range gives the total alone");
        } else {
            fuzz::check(
                range->first <= range->last && (range->total < 0 || range->last < range->total),
                "start <= end < total");
        }
        // Written back in the header's own form, it reads the same.
        QByteArray written = "bytes ";
        written += range->first < 0
                       ? QByteArray("*")
                       : QByteArray::number(range->first) + '-' + QByteArray::number(range->last);
        written += '/';
        written += range->total < 0 ? QByteArray("*") : QByteArray::number(range->total);
        const std::optional<ContentRange> reread = update::parseContentRange(written);
        fuzz::check(reread && same(*reread, *range), "a range written back reads the same");
    }

    static const int statuses[] = {0, 200, 206, 206, 206, 416, 404, 302};
    const int status = statuses[data[0] & 7];
    const qint64 base = range && range->first >= 0 ? range->first : 0;
    const qint64 after = base < std::numeric_limits<qint64>::max() ? base + 1 : base;
    const qint64 onDisk[] = {0,      base,   after,           base > 0 ? base - 1 : 0,
                             102400, 204800, qint64(1) << 40, base};
    const qint64 downloaded = onDisk[(data[0] >> 3) & 7];
    fuzz::check(update::replyStart(status, downloaded, range) ==
                    expectedStart(status, downloaded, expected),
                "a part is appended only where the file on disk ends");
    return 0;
}
