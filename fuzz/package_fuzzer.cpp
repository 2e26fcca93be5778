// Update packages unpacked into tupdates/<kind>/ready of an application folder of their own,
// next to a folder outside it, with links from the update folders to that outside folder.
//
// The first input byte picks how the rest is read:
//   0 the package file as it is;
//   1 the same, with the publisher's key required;
//   2 a package whose hash (and, with the key, signature) is made right after the change, so
//     that changes reach the decompression and the file list;
//   3 the decompressed body, packed as the publisher's tool packs it;
//   4 choices of files (names, contents) packed with the publisher's tool code, which must
//     unpack to exactly those files.
// Its upper bits pick the package kind and the links that wait in the update folders.

#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "fuzz/fuzz_support.h"
#include "platform/linux/shell_operations_linux.h"
#include "update/package.h"
#include "update/package_label.h"
#include "update/package_signature.h"

namespace {

using update::Package;

// One entry of a folder tree: a file with its bytes, a folder, or a link with its target.
struct Node {
    enum class Type { File, Folder, Link } type;
    QByteArray content;

    bool operator==(const Node& other) const {
        return type == other.type && content == other.content;
    }
};
using Tree = QMap<QString, Node>;

// The entries below `root` + `relative`, links not followed (plain POSIX calls: the tree is
// read twice at every run).
void walk(const QByteArray& root, const QByteArray& relative, Tree& tree) {
    DIR* folder = ::opendir((root + relative).constData());
    if (!folder)
        fuzz::fail("every folder in the sandbox can be listed");
    while (const dirent* entry = ::readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray full = root + path;
        struct stat status;
        if (::lstat(full.constData(), &status) != 0)
            fuzz::fail("every entry in the sandbox can be looked at");
        const QString key = QString::fromUtf8(path);
        if (S_ISLNK(status.st_mode)) {
            char target[4096];
            const ssize_t length = ::readlink(full.constData(), target, sizeof target);
            tree.insert(key,
                        {Node::Type::Link, QByteArray(target, int(std::max<ssize_t>(length, 0)))});
        } else if (S_ISDIR(status.st_mode)) {
            tree.insert(key, {Node::Type::Folder, {}});
            walk(root, path, tree);
        } else {
            QByteArray content(int(status.st_size), Qt::Uninitialized);
            const int file = ::open(full.constData(), O_RDONLY | O_CLOEXEC);
            const bool read = file >= 0 && ::read(file, content.data(), size_t(content.size())) ==
                                               ssize_t(content.size());
            if (file >= 0)
                ::close(file);
            if (!read)
                fuzz::fail("every file in the sandbox is readable");
            tree.insert(key, {Node::Type::File, content});
        }
    }
    ::closedir(folder);
}

Tree treeOf(const QString& root) {
    Tree tree;
    walk(root.toUtf8() + '/', QByteArray(), tree);
    return tree;
}

Tree without(const Tree& tree, const QString& prefix) {
    Tree rest;
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        if (it.key() != prefix && !it.key().startsWith(prefix + QLatin1Char('/')))
            rest.insert(it.key(), it.value());
    }
    return rest;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fuzz::fail("the sandbox is writable");
}

// The system's shell operations, noting the sandbox as it was when the unpack first deleted
// something: before that, a package that fails its checks must not have written anything.
class WatchingShell : public platform::ShellOperations {
  public:
    bool deleteTree(const std::string& path) override {
        if (!firstDeletion && !root.isEmpty())
            firstDeletion = treeOf(root);
        return shell_.deleteTree(path);
    }
    int walkTree(const std::string& root, std::vector<platform::TreeEntry>& entries) override {
        return shell_.walkTree(root, entries);
    }
    int createFolder(const std::string& path) override { return shell_.createFolder(path); }
    int copyFile(const std::string& source, const std::string& target) override {
        return shell_.copyFile(source, target);
    }
    long execute(const std::string&, const std::string&, const std::string&, bool) override {
        fuzz::fail("an unpack starts no program");
    }

    QString root;
    std::optional<Tree> firstDeletion;

  private:
    platform::LinuxShellOperations shell_;
};

class Sandbox {
  public:
    Sandbox() {
        if (!root_.isValid() || !update::generateKeyPair(secretKey, publicKey))
            fuzz::fail("the sandbox and a key pair can be made");
        appFolder = root_.path() + QStringLiteral("/app/");
        outside = root_.path() + QStringLiteral("/outside");
        writeFile(outside + QStringLiteral("/secret.txt"), "outside the application folder");
        writeFile(appFolder + QStringLiteral("Resources/conf.xml"), "<root/>");
        environment.appFolder = appFolder;
        environment.shell = &watching;
        watching.root = root_.path();
    }

    // The update folders as a download leaves them: the package file, and in front of it what
    // an earlier run (or someone else) left behind.
    QString prepare(const QString& kind, int leftovers, const QByteArray& package) {
        shell_.deleteTree((appFolder + QStringLiteral("tupdates")).toStdString());
        watching.firstDeletion.reset();
        const QString folder = appFolder + QStringLiteral("tupdates/") + kind + QLatin1Char('/');
        QDir().mkpath(folder);
        writeFile(appFolder + QStringLiteral("tupdates/client/ready/Velmora.exe"), "client");
        // 1: temp links outside; 2: ready does; 3: both hold links to it.
        if (leftovers == 1 || leftovers == 3)
            QFile::link(outside, folder + QStringLiteral("temp"));
        if (leftovers == 2) {
            QFile::link(outside, folder + QStringLiteral("ready"));
        } else if (leftovers == 3) {
            writeFile(folder + QStringLiteral("ready/old.txt"), "old");
            QFile::link(outside + QStringLiteral("/secret.txt"),
                        folder + QStringLiteral("ready/secret.txt"));
            QFile::link(outside, folder + QStringLiteral("ready/sub"));
        }
        const QString path = folder + QStringLiteral("tupdate.bin");
        writeFile(path, package);
        return path;
    }

    QString path() const { return root_.path(); }

    QString appFolder;
    QString outside;
    QByteArray secretKey;
    QByteArray publicKey;
    WatchingShell watching;
    update::Environment environment;

  private:
    // In memory where the system offers it: the unpack makes and removes folders at every run.
    static QString rootTemplate() {
        const QDir memory(QStringLiteral("/dev/shm"));
        return memory.exists() && QFileInfo(memory.path()).isWritable()
                   ? memory.filePath(QStringLiteral("velmora-fuzz-package-XXXXXX"))
                   : QDir::temp().filePath(QStringLiteral("velmora-fuzz-package-XXXXXX"));
    }

    QTemporaryDir root_{rootTemplate()};
    platform::LinuxShellOperations shell_;
};

Sandbox& sandbox() {
    static Sandbox box;
    return box;
}

// A name part the publisher's folders may hold, or one that must not reach the disk.
QString namePart(FuzzedDataProvider& choices, bool& plain) {
    static const char* const hostile[] = {"..",   ".",    "",         "con",   "NUL.txt", "a:b",
                                          "x\\y", "dot.", "space ",   "tab\t", "star*",   "lpt1",
                                          "A",    "a",    "\xc3\x9f", "SS",    "..."};
    if (choices.ConsumeIntegralInRange<int>(0, 9) == 0) {
        plain = false;
        return QString::fromUtf8(hostile[choices.ConsumeIntegralInRange<int>(0, 16)]);
    }
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789_-";
    QString part;
    const int length = choices.ConsumeIntegralInRange<int>(1, 8);
    for (int i = 0; i < length; ++i)
        part += QLatin1Char(alphabet[choices.ConsumeIntegralInRange<int>(0, 37)]);
    if (choices.ConsumeBool())
        part += QStringLiteral(".txt");
    return part;
}

// Files chosen by the input; `plain` tells whether every name is one the unpack must accept.
Package chosenPackage(FuzzedDataProvider& choices, bool& plain) {
    Package package;
    package.version = QString::fromStdString(choices.ConsumeRandomLengthString(12));
    plain = true;
    QSet<QString> files;
    QSet<QString> folders;
    const int count = choices.ConsumeIntegralInRange<int>(1, 5);
    for (int i = 0; i < count; ++i) {
        QStringList parts{choices.ConsumeIntegralInRange<int>(0, 15) == 0 ? namePart(choices, plain)
                                                                          : QStringLiteral("pkg")};
        const int depth = choices.ConsumeIntegralInRange<int>(1, 3);
        for (int d = 0; d < depth; ++d)
            parts.append(namePart(choices, plain));
        // A file where another file or a folder is named, or a folder where a file is.
        QString path;
        for (int d = 1; d < parts.size(); ++d) {
            path += (d > 1 ? QStringLiteral("/") : QString()) + parts[d];
            if (d + 1 < parts.size()) {
                if (files.contains(path))
                    plain = false;
                folders.insert(path);
            } else {
                if (files.contains(path) || folders.contains(path))
                    plain = false;
                files.insert(path);
            }
        }
        const std::string data = choices.ConsumeRandomLengthString(64);
        package.files.append(
            {parts.join(QLatin1Char('/')), QByteArray(data.data(), int(data.size()))});
    }
    return package;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    Sandbox& box = sandbox();
    const int mode = (data[0] & 7) % 5;
    const bool keyed = (data[0] >> 3) & 1;
    static const char* const kinds[] = {"client", "html", "firmware", "html"};
    const QString kind = QString::fromLatin1(kinds[(data[0] >> 4) & 3]);
    const int leftovers = data[0] >> 6;
    const QByteArray rest = fuzz::bytes(data + 1, size - 1);

    QByteArray package;
    std::optional<Package> chosen;
    bool plain = false;
    box.environment.publicKey = mode == 1 || keyed ? box.publicKey : QByteArray();
    const QByteArray secretKey = keyed ? box.secretKey : QByteArray();
    switch (mode) {
        case 0:
        case 1:
            package = rest;
            break;
        case 2:
            package = rest;
            update::sealPackage(package, secretKey);
            break;
        case 3:
            package = update::packBody(rest, secretKey);
            break;
        default: {
            FuzzedDataProvider choices(data + 1, size - 1);
            chosen = chosenPackage(choices, plain);
            chosen->kind = kind;  // as the publisher's tool labels every package
            package = update::writePackage(*chosen, secretKey);
            if (package.isEmpty()) {
                const QByteArray version = chosen->version.toUtf8();
                fuzz::check(version.size() > update::kLabelVersionSize || version.contains('\0'),
                            "a label holds every version of up to 16 bytes");
                // Unlabelled, as packages were before labels; with a key it is refused.
                chosen->kind.clear();
                plain = plain && !keyed;
                package = update::writePackage(*chosen, secretKey);
            }
            fuzz::check(!package.isEmpty(), "small files always fit a package");
            break;
        }
    }

    const QString packagePath = box.prepare(kind, leftovers, package);
    const Tree before = treeOf(box.path());
    QString error;
    const std::optional<Package> read =
        update::readPackage(package, box.environment.publicKey, error);
    const std::optional<QString> version =
        update::unpackPackage(box.environment, kind, packagePath);
    const Tree after = treeOf(box.path());

    const QString updates = QStringLiteral("app/tupdates");
    fuzz::check(without(after, updates) == without(before, updates),
                "nothing outside tupdates changes, whatever the package");
    if (!read) {
        fuzz::check(box.watching.firstDeletion && *box.watching.firstDeletion == before,
                    "a package that fails its checks writes nothing before the update folder goes");
    }
    if (!version) {
        // Its own kind's folder goes (and tupdates once empty); the others' stay as they were.
        const QString own = updates + QLatin1Char('/') + kind;
        fuzz::check(!after.contains(own), "a failed unpack leaves no folder of its kind");
        Tree others = without(before, own);
        others.remove(updates);
        Tree othersAfter = without(after, own);
        othersAfter.remove(updates);
        fuzz::check(othersAfter == others, "a failed unpack leaves the other kinds' updates");
        fuzz::check(!plain, "a package of plain names from the publisher's tool unpacks");
        return 0;
    }

    // Success: the package file and the temporary folder are gone, the ready folder holds
    // exactly the package's files as the reader sees them, and the rest of tupdates is as it was.
    fuzz::check(read.has_value(), "only a package the reader accepts unpacks");
    fuzz::check(*version == read->version, "the unpack reports the package's version");
    const QString kindFolder = updates + QLatin1Char('/') + kind;
    const QString ready = kindFolder + QStringLiteral("/ready");
    fuzz::check(without(after, kindFolder) == without(before, kindFolder),
                "other kinds' update folders stay as they were");
    Tree expected;
    for (const update::PackageFile& file : read->files) {
        const QStringList parts = file.name.split(QLatin1Char('/')).mid(1);
        for (int d = 1; d < parts.size(); ++d)
            expected.insert(ready + QLatin1Char('/') + parts.mid(0, d).join(QLatin1Char('/')),
                            {Node::Type::Folder, {}});
        expected.insert(ready + QLatin1Char('/') + parts.join(QLatin1Char('/')),
                        {Node::Type::File, file.data});
    }
    expected.insert(kindFolder, {Node::Type::Folder, {}});
    expected.insert(ready, {Node::Type::Folder, {}});
    Tree got;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (it.key() == kindFolder || it.key().startsWith(kindFolder + QLatin1Char('/')))
            got.insert(it.key(), it.value());
    }
    fuzz::check(got == expected,
                "the kind's folder holds the ready folder with exactly the package's files");

    if (chosen) {
        // The publisher's own files come back byte for byte.
        fuzz::check(read->files.size() == chosen->files.size(), "every packed file unpacks");
        for (int i = 0; i < chosen->files.size(); ++i) {
            fuzz::check(read->files[i].name == chosen->files[i].name &&
                            read->files[i].data == chosen->files[i].data,
                        "a packed file unpacks to its own name and bytes");
        }
        fuzz::check(*version == chosen->version, "the packed version comes back");
    }
    return 0;
}
