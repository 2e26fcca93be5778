// The package reader and writer: the file layout, the checks in their order, both kinds of
// LZMA stream, signatures and stored names.

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>
#include <QtEndian>

#include <gtest/gtest.h>
#include <lzma.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "tests/update/package_fixtures.h"
#include "update/package.h"
#include "update/package_label.h"
#include "update/package_signature.h"

namespace update {
namespace {

using update_test::body;
using update_test::entry;
using update_test::setStoredSize;

Package twoFiles() {
    Package package;
    package.version = QStringLiteral("3.1.4");
    package.files = {{QStringLiteral("pkg/a.txt"), QByteArray("alpha")},
                     {QStringLiteral("pkg/css/b.css"), QByteArray(5000, 'b') + "end"}};
    return package;
}

Package labelled() {
    Package package = twoFiles();
    package.kind = QStringLiteral("html");
    return package;
}

std::optional<Package> read(const QByteArray& bytes, QString& error,
                            const QByteArray& publicKey = QByteArray()) {
    error.clear();
    return readPackage(bytes, publicKey, error);
}

QString errorOf(const QByteArray& bytes, const QByteArray& publicKey = QByteArray()) {
    QString error;
    const std::optional<Package> package = read(bytes, error, publicKey);
    return package ? QStringLiteral("<read>") : error;
}

void expectSame(const Package& expected, const Package& actual) {
    EXPECT_EQ(expected.version, actual.version);
    ASSERT_EQ(expected.files.size(), actual.files.size());
    for (int i = 0; i < expected.files.size(); ++i) {
        EXPECT_EQ(expected.files[i].name, actual.files[i].name);
        EXPECT_EQ(expected.files[i].data, actual.files[i].data);
    }
}

// Decodes the package's stream with liblzma's plain LZMA1 decoder, which needs an end marker.
bool endsWithMarker(const QByteArray& package) {
    lzma_filter filter{LZMA_FILTER_LZMA1, nullptr};
    if (lzma_properties_decode(&filter, nullptr,
                               reinterpret_cast<const uint8_t*>(package.constData()) + 148,
                               5) != LZMA_OK)
        return false;
    lzma_options_lzma options = *static_cast<lzma_options_lzma*>(filter.options);
    free(filter.options);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters) != LZMA_OK)
        return false;
    QByteArray out(1 << 20, '\0');
    stream.next_in = reinterpret_cast<const uint8_t*>(package.constData()) + 157;
    stream.avail_in = std::size_t(package.size() - 157);
    stream.next_out = reinterpret_cast<uint8_t*>(out.data());
    stream.avail_out = std::size_t(out.size());
    const lzma_ret ret = lzma_code(&stream, LZMA_FINISH);
    lzma_end(&stream);
    return ret == LZMA_STREAM_END;
}

TEST(PackageFormat, WritesTheLayoutAndReadsBothKindsOfStream) {
    for (const lzma::EndMarker marker : {lzma::EndMarker::Omit, lzma::EndMarker::Write}) {
        const QByteArray bytes = writePackage(twoFiles(), QByteArray(), marker);
        ASSERT_GT(bytes.size(), 157);
        EXPECT_EQ(marker == lzma::EndMarker::Write, endsWithMarker(bytes));
        EXPECT_EQ(QByteArray(128, '\0'), bytes.left(128));
        EXPECT_EQ(QCryptographicHash::hash(bytes.mid(148), QCryptographicHash::Sha1),
                  bytes.mid(128, 20));
        EXPECT_EQ(char(0x5d), bytes[148]);  // lc 3, lp 0, pb 2
        const QByteArray stored = body(
            "3.1.4",
            {entry("pkg/a.txt", "alpha"), entry("pkg/css/b.css", QByteArray(5000, 'b') + "end")});
        EXPECT_EQ(stored.size(), qFromLittleEndian<qint32>(bytes.constData() + 153));

        QString error;
        const std::optional<Package> package = read(bytes, error);
        ASSERT_TRUE(package) << error.toStdString();
        expectSame(twoFiles(), *package);
    }
}

TEST(PackageFormat, PassesEmptyAndNullVersionsOn) {
    for (const QString& version : {QString(), QStringLiteral("")}) {
        Package package;
        package.version = version;
        package.files = {{QStringLiteral("x/a"), QByteArray()}};
        QString error;
        const std::optional<Package> back = read(writePackage(package, QByteArray()), error);
        ASSERT_TRUE(back) << error.toStdString();
        EXPECT_EQ(version.isNull(), back->version.isNull());
        EXPECT_TRUE(back->version.isEmpty());
    }
}

TEST(PackageChecks, RefusesFilesWithoutAStream) {
    const QByteArray bytes = writePackage(twoFiles(), QByteArray());
    EXPECT_EQ("Update Error: bad compressed size: 157", errorOf(bytes.left(157)));
    EXPECT_EQ("Update Error: bad compressed size: 0", errorOf(QByteArray()));
}

TEST(PackageChecks, HashCoversEveryByteFrom148ButNotTheFreeBlock) {
    const QByteArray bytes = writePackage(twoFiles(), QByteArray());
    for (int i = 128; i < bytes.size(); ++i) {
        QByteArray changed = bytes;
        changed[i] = char(changed[i] ^ 0x01);
        ASSERT_EQ("Update Error: bad SHA1 hash of update file!", errorOf(changed)) << "byte " << i;
    }
    QByteArray changed = bytes;
    for (int i = 0; i < 128; ++i)
        changed[i] = char(i * 7 + 1);
    EXPECT_EQ("<read>", errorOf(changed));
}

TEST(PackageChecks, ReportsTheBodyInTheUnpacksTerms) {
    const auto errorOfBody = [](const QByteArray& stored) { return errorOf(packBody(stored, {})); };
    EXPECT_EQ("Update Error: update is empty!", errorOfBody(body("1", {})));
    EXPECT_EQ("Update Error: bad file size 10 not matching data size 9",
              errorOfBody(body("1", {{"x/a.txt", 10, QByteArray(9, 'd')}})));
    EXPECT_EQ("Update Error: cant read version from downloaded stream, status: 1",
              errorOfBody(QByteArray()));
    QByteArray oddVersion("\x00\x00\x00\x03xyz\x00\x00\x00\x01", 11);
    EXPECT_EQ("Update Error: cant read version from downloaded stream, status: 2",
              errorOfBody(oddVersion));
    EXPECT_EQ("Update Error: cant read files count from downloaded stream, status: 1",
              errorOfBody(body("1", {}).chopped(1)));
    const QByteArray whole = body("1", {entry("x/a.txt", QByteArray(100, 'a'))});
    EXPECT_EQ("Update Error: cant read file from downloaded stream, status: 1",
              errorOfBody(whole.left(whole.size() - 1)));
    // A count far beyond what the body holds ends at the body's end.
    EXPECT_EQ("Update Error: cant read file from downloaded stream, status: 1",
              errorOfBody(body("1", 0xFFFFFFFFu, {entry("x/a.txt", "a")})));
}

TEST(PackageChecks, RefusesStoredSizesThatLie) {
    const QByteArray good = writePackage(twoFiles(), QByteArray());
    const qint32 actual = qFromLittleEndian<qint32>(good.constData() + 153);
    const auto withSize = [](QByteArray bytes, qint32 size) {
        setStoredSize(bytes, size);
        sealPackage(bytes, QByteArray());
        return bytes;
    };
    EXPECT_EQ("Update Error: bad uncompressed size: -1", errorOf(withSize(good, -1)));
    EXPECT_EQ("Update Error: bad uncompressed size: -2147483648",
              errorOf(withSize(good, std::numeric_limits<qint32>::min())));
    EXPECT_EQ("Update Error: bad uncompressed size: 2147483647",
              errorOf(withSize(good, std::numeric_limits<qint32>::max())));
    EXPECT_EQ(QStringLiteral("Update Error: bad uncompressed size: %1").arg(kLargestBody + 1),
              errorOf(withSize(good, kLargestBody + 1)));
    // Less than the stream holds: what follows the stored size is not an end marker.
    EXPECT_EQ("Update Error: could not uncompress lzma, code: 1",
              errorOf(withSize(good, actual - 1)));
    // More than the stream holds: the stream ends first.
    EXPECT_EQ("Update Error: could not uncompress lzma, code: 6",
              errorOf(withSize(good, actual + 1)));
    EXPECT_EQ("Update Error: could not uncompress lzma, code: 6",
              errorOf(withSize(good, kLargestBody)));
    // An end marker anywhere but right after the stored size is bad data.
    const QByteArray marked = writePackage(twoFiles(), QByteArray(), lzma::EndMarker::Write);
    EXPECT_EQ("Update Error: could not uncompress lzma, code: 1",
              errorOf(withSize(marked, actual + 1)));
    EXPECT_EQ("Update Error: could not uncompress lzma, code: 1",
              errorOf(withSize(marked, actual - 1)));
}

TEST(PackageChecks, RefusesTruncatedStreamsAndUnusableProperties) {
    const QByteArray good = writePackage(twoFiles(), QByteArray());
    for (const int cut : {1, 5, 40}) {
        QByteArray truncated = good.left(good.size() - cut);
        sealPackage(truncated, QByteArray());
        EXPECT_EQ("Update Error: could not uncompress lzma, code: 6", errorOf(truncated))
            << "cut " << cut;
    }
    // 225 is beyond (4 * 5 + 4) * 9 + 8; 103 is lc 4 with lp 1, more than liblzma decodes.
    for (const char properties : {char(225), char(103)}) {
        QByteArray changed = good;
        changed[148] = properties;
        sealPackage(changed, QByteArray());
        EXPECT_EQ("Update Error: could not uncompress lzma, code: 4", errorOf(changed));
    }
}

// Reads with no more than 512 MiB of address space to spare and reports the outcome on
// stderr: a package must never need memory in proportion to what its header claims.
[[noreturn]] void readWithLittleMemory(const QByteArray& bytes) {
    QFile statm(QStringLiteral("/proc/self/statm"));
    statm.open(QIODevice::ReadOnly);
    const rlim_t used = statm.readAll().split(' ').value(0).toULongLong() * rlim_t(getpagesize());
    const rlimit limit{used + (rlim_t(512) << 20), used + (rlim_t(512) << 20)};
    setrlimit(RLIMIT_AS, &limit);
    QString error;
    const std::optional<Package> package = read(bytes, error);
    std::fprintf(stderr, "%s\n", package ? "<read>" : qUtf8Printable(error));
    std::exit(0);
}

// The decoder's dictionary follows the stored size and its output the bytes decoded so far.
TEST(PackageChecksDeathTest, NeedsNoMemoryForWhatTheHeaderOnlyClaims) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    QByteArray hugeDictionary = writePackage(twoFiles(), QByteArray());
    for (int i = 149; i < 153; ++i)
        hugeDictionary[i] = char(0xFF);
    sealPackage(hugeDictionary, QByteArray());
    EXPECT_EXIT(readWithLittleMemory(hugeDictionary), ::testing::ExitedWithCode(0), "<read>");

    QByteArray hugeSize = writePackage(twoFiles(), QByteArray());
    setStoredSize(hugeSize, kLargestBody);
    sealPackage(hugeSize, QByteArray());
    EXPECT_EXIT(readWithLittleMemory(hugeSize), ::testing::ExitedWithCode(0),
                "could not uncompress lzma, code: 6");
}

TEST(PackageNames, RefusesNamesThatLeaveTheirFolderOrNameNoFile) {
    const QStringList bad = {"a.txt",       "x/",         "x/sub/",          "/etc/passwd",
                             "../a.txt",    "x/../a.txt", "x/../../a.txt",   "x/sub/../../a.txt",
                             "x/./a.txt",   "x//a.txt",   "x/..\\..\\a.txt", "x/sub\\a.txt",
                             "x/C:/a.txt",  "x/C:a.txt",  "C:/a.txt",        "x/a.txt:stream",
                             "x/.. /a.txt", "x/a.txt.",   "x/a.txt ",        "x/con",
                             "x/NUL.txt",   "x/sub/com1", "x/a\tb",          "x/a*b",
                             "x/a?b",       "x/a\"b",     "x/a<b",           "x/a>b",
                             "x/a|b",       QString()};
    for (const QString& name : bad) {
        EXPECT_EQ(QStringLiteral("Update Error: bad file name '%1' in update file!").arg(name),
                  errorOf(packBody(body("1", {entry("x/ok.txt", "ok"), entry(name, "evil")}), {})))
            << name.toStdString();
    }
    const QStringList good = {"x/a.txt",       "x/.hidden", "x/a..b",  "x/sub/deeper/b.css",
                              "x/console.log", "x/Ä ö.txt", "x/com10", ".x/a"};
    for (const QString& name : good)
        EXPECT_EQ("<read>", errorOf(packBody(body("1", {entry(name, "data")}), {})))
            << name.toStdString();
}

TEST(PackageNames, RefusesFilesThatWouldReplaceOthers) {
    const QVector<QStringList> clashes = {{"x/a.txt", "y/a.txt"},
                                          {"x/a.txt", "x/A.TXT"},
                                          {"x/sub", "x/sub/b.txt"},
                                          {"x/sub/b.txt", "x/SUB"},
                                          {"x/sub/b.txt", "y/sub/b.txt/c"}};
    for (const QStringList& names : clashes) {
        EXPECT_EQ(QStringLiteral("Update Error: bad file name '%1' in update file!").arg(names[1]),
                  errorOf(packBody(body("1", {entry(names[0], "1"), entry(names[1], "2")}), {})))
            << names.join(' ').toStdString();
    }
    EXPECT_EQ(
        "<read>",
        errorOf(packBody(
            body("1", {entry("x/sub/a", "1"), entry("x/sub/b", "2"), entry("x/sub2", "3")}), {})));
}

class PackageSignature : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(generateKeyPair(secretKey, publicKey));
        ASSERT_TRUE(generateKeyPair(otherSecretKey, otherPublicKey));
    }
    QByteArray secretKey, publicKey, otherSecretKey, otherPublicKey;
};

TEST_F(PackageSignature, SignedPackagesReadWithTheirKeyAndWithoutOne) {
    const QByteArray bytes = writePackage(labelled(), secretKey);
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_NE(QByteArray(64, '\0'), bytes.left(64));
    QString error;
    const std::optional<Package> package = read(bytes, error, publicKey);
    ASSERT_TRUE(package) << error.toStdString();
    expectSame(twoFiles(), *package);
    EXPECT_EQ("html", package->kind);
    EXPECT_EQ("<read>", errorOf(bytes));
    // Made before labels: readable where no key asks for one.
    const QByteArray unlabelled = writePackage(twoFiles(), secretKey);
    EXPECT_EQ(QByteArray(64, '\0'), unlabelled.mid(64, 64));
    EXPECT_EQ("<read>", errorOf(unlabelled));
    EXPECT_EQ("Update Error: update file does not name its kind and version!",
              errorOf(unlabelled, publicKey));
}

TEST_F(PackageSignature, RefusesMissingAndWrongSignaturesAndLabels) {
    const QByteArray signedBytes = writePackage(labelled(), secretKey);
    // Changed content with the hashes made to match it is still not what the publisher signed.
    QByteArray changed = signedBytes;
    changed[200] = char(changed[200] ^ 0x40);
    sealPackage(changed, QByteArray());
    QByteArray forged = signedBytes;
    forged[10] = char(forged[10] ^ 0x01);
    QByteArray unhashed = signedBytes;
    unhashed[300] = char(unhashed[300] ^ 0x01);
    // The old hash made to match, the label's left as signed.
    QByteArray sha1Only = unhashed;
    sha1Only.replace(128, 20,
                     QCryptographicHash::hash(sha1Only.mid(148), QCryptographicHash::Sha1));
    QByteArray badLabel = signedBytes;
    badLabel[64 + 4 + 11] = 'x';  // after the kind's padding began
    const struct {
        QByteArray bytes;
        QByteArray key;
        const char* error;
    } cases[] = {
        {writePackage(labelled(), QByteArray()), publicKey,
         "Update Error: update file is not signed!"},
        {signedBytes, otherPublicKey, "Update Error: bad signature of update file!"},
        {writePackage(labelled(), otherSecretKey), publicKey,
         "Update Error: bad signature of update file!"},
        {changed, publicKey, "Update Error: bad signature of update file!"},
        {forged, publicKey, "Update Error: bad signature of update file!"},
        {signedBytes, publicKey.left(31), "Update Error: bad signature of update file!"},
        // The hashes are checked first, as without a key.
        {unhashed, publicKey, "Update Error: bad SHA1 hash of update file!"},
        {sha1Only, publicKey, "Update Error: bad SHA-256 hash of update file!"},
        {sha1Only, QByteArray(), "Update Error: bad SHA-256 hash of update file!"},
        {badLabel, QByteArray(), "Update Error: bad label in update file!"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.error, errorOf(c.bytes, c.key));
}

TEST_F(PackageSignature, KeysAsText) {
    const QString publicText = encodeKey(publicKey);
    EXPECT_EQ(44, publicText.size());
    EXPECT_EQ(publicKey, decodePublicKey(publicText));
    EXPECT_EQ(publicKey, decodePublicKey(" " + publicText + "\n"));
    EXPECT_EQ(secretKey, decodeSecretKey(encodeKey(secretKey)));
    EXPECT_EQ(publicKey, publicKeyOf(secretKey));

    EXPECT_TRUE(decodePublicKey(QString()).isEmpty());
    EXPECT_TRUE(decodePublicKey(encodeKey(publicKey.left(31))).isEmpty());
    EXPECT_TRUE(decodePublicKey(encodeKey(secretKey)).isEmpty());
    EXPECT_TRUE(decodePublicKey(QString(publicText).replace(3, 1, '%')).isEmpty());
    EXPECT_TRUE(decodePublicKey(encodeKey(QByteArray(32, '\0'))).isEmpty());  // no curve point
    EXPECT_TRUE(decodeSecretKey(encodeKey(publicKey)).isEmpty());
    // A secret key whose public half belongs to another seed would sign wrongly.
    EXPECT_TRUE(decodeSecretKey(encodeKey(secretKey.left(32) + otherPublicKey)).isEmpty());
    EXPECT_TRUE(writePackage(twoFiles(), secretKey.left(63)).isEmpty());
}

TEST(PackageVersions, OlderIsDecidedByTheRunsOfDigits) {
    const struct {
        const char* candidate;
        const char* installed;
        bool older;
    } cases[] = {
        {"1.2", "1.10", true},
        {"1.10", "1.2", false},
        {"1.02", "V1.03", true},
        {"1.2", "1.2.0", false},
        {"1.2.0", "1.2", false},
        {"1.2", "1.2.1", true},
        {"2", "10", true},
        {"beta", "1.0", false},
        {"1.0", "", false},
        {"1.0", "1.0", false},
        {"99999999999999999999", "1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.older, isOlderVersion(c.candidate, c.installed))
            << c.candidate << " against " << c.installed;
}

TEST(PackageVersions, ALabelHoldsAKindOfLettersAndAVersionOfSixteenBytes) {
    Package package = twoFiles();
    package.kind = QStringLiteral("firmware");
    package.version = QString(16, '9');
    EXPECT_FALSE(writePackage(package, QByteArray()).isEmpty());
    package.version = QString(17, '9');
    EXPECT_TRUE(writePackage(package, QByteArray()).isEmpty());
    package.version = QStringLiteral("1");
    package.kind = QStringLiteral("Html");
    EXPECT_TRUE(writePackage(package, QByteArray()).isEmpty());
}

}  // namespace
}  // namespace update
