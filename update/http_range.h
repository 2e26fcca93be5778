#pragma once

// What a download reads from HTTP: the Content-Range of a reply, what its first part means for
// the file on disk, and the file name a URL gives.

#include <QByteArray>
#include <QString>

#include <optional>

namespace update {

constexpr int kStatusOk = 200;
constexpr int kStatusPartial = 206;
constexpr int kStatusRangeNotSatisfiable = 416;

// A Content-Range value: "bytes FIRST-LAST/TOTAL" (TOTAL "*" when the server does not know
// it), or "bytes */TOTAL" when the asked range cannot be satisfied.
struct ContentRange {
    qint64 first = -1;  // -1 in the "*/TOTAL" form
    qint64 last = -1;
    qint64 total = -1;  // -1 when unknown
};

// Empty when `value` is not such a range or its numbers contradict each other (FIRST after
// LAST, LAST not below TOTAL, a number beyond 64 bits).
std::optional<ContentRange> parseContentRange(const QByteArray& value);

// What a download does with the first part of a reply.
enum class ReplyStart {
    Append,     // the bytes continue the file on disk (or start an empty one)
    Restart,    // the bytes are the whole file: what the resume kept goes
    BadStatus,  // an HTTP status that carries no file
    OtherPart,  // a part that does not start where the file on disk ends, or of unknown size
};

// `status` is 0 for an answer without HTTP; `range` is the reply's Content-Range.
ReplyStart replyStart(int status, qint64 downloaded, const std::optional<ContentRange>& range);

// Whether `url` is one the system downloads from: http or https with a host. A file, a share
// or any other scheme named by a page or an update answer is never fetched.
bool isWebUrl(const QString& url);

// Whether what comes from `url` cannot have been changed on its way: https, or http from this
// machine (127.0.0.0/8, ::1, localhost).
bool isTrustedTransport(const QString& url);

// The file name a download URL gives: the first capture of "/([^/\?]+)(\?|$)", i.e. the last
// path segment without the query. Empty when there is none, and when the segment would not
// name a file inside its folder ("..", a drive, a Windows path).
QString downloadFileName(const QString& url);

}  // namespace update
