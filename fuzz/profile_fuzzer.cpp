// Profiles: the profile store's commands as a page drives them, over a throw-away application
// folder. Files change only inside the folder, stored profiles parse again and hold what the
// page sent, and every command answers as the command table says.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <pugixml.hpp>

#include <string>

#include "base/xml_string_writer.h"
#include "commands/profile_store.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/temp_app_folder.h"
#include "fuzz/text_input.h"

namespace {

const QMap<QString, QByteArray>& baseline() {
    static const QMap<QString, QByteArray> files = {
        {QStringLiteral("profiles/vm100/index.xml"),
         "<?xml version=\"1.0\"?>\n<profiles model=\"vm100\">\n\t<profile name=\"Default\" "
         "file=\"default.xml\" />\n</profiles>\n"},
        {QStringLiteral("profiles/vm100/default.xml"),
         "<?xml version=\"1.0\"?>\n<profile model=\"vm100\" name=\"Default\" version=\"1\">\n"
         "\t<performance dpiStage=\"1\" reportInterval=\"1\">\n\t\t<dpi link=\"1\" x=\"800\" "
         "y=\"800\" />\n\t</performance>\n\t<macros />\n</profile>\n"},
        {QStringLiteral("Resources/conf.xml"),
         "<root><client name=\"Quillmere\" version=\"2.1.0\" /></root>"},
    };
    return files;
}

struct Setup {
    fuzz::TempAppFolder folder;
    Setup() { fuzz::silenceLogs(); }
};

Setup& setup() {
    static Setup instance;
    return instance;
}

QByteArray fileContent(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A document as its nodes say it, independent of how it was printed.
void describe(const pugi::xml_node& node, std::string& out) {
    out += std::to_string(int(node.type()));
    out += '<';
    out += node.name();
    for (const pugi::xml_attribute& attribute : node.attributes()) {
        out += ' ';
        out += attribute.name();
        out += '=';
        out += attribute.value();
        out += '\x01';
    }
    out += '>';
    out += node.value();
    for (const pugi::xml_node& child : node.children())
        describe(child, out);
    out += "</>";
}

// What the page's text says as XML: it is already decoded, so it is read as UTF-8 whatever its
// declaration claims.
bool pageDocument(const QString& text, std::string& description) {
    const QByteArray bytes = text.toUtf8();
    pugi::xml_document document;
    if (!document.load_buffer(bytes.constData(), size_t(bytes.size()), pugi::parse_default,
                              pugi::encoding_utf8))
        return false;
    description.clear();
    describe(document, description);
    return true;
}

class Session {
  public:
    Session() : folder_(setup().folder), store_(folder_.app()) { folder_.reset(baseline()); }

    void run(const QString& record) {
        fuzz::Lines lines(record.toUtf8());
        const QString command = lines.take();
        const int space = command.indexOf(QLatin1Char(' '));
        const QString verb = command.left(space);
        const QString path = space < 0 ? QString() : command.mid(space + 1);
        const QString body = lines.rest();
        if (verb == QLatin1String("modify"))
            modify(path, body);
        else if (verb == QLatin1String("query"))
            query(path, body);
        else if (verb == QLatin1String("save"))
            save();
        else if (verb == QLatin1String("flush"))
            flush();
        else
            absolute(command);
    }

    // Nothing outside changed, and the files inside are the ones the folder began with and
    // those the page named, with no leftovers of a write.
    void checkFolder() const {
        fuzz::check(folder_.outsideUntouched(), "nothing outside the application folder changes");
        for (const QString& file : folder_.files()) {
            const bool named = named_.contains(QDir::cleanPath(folder_.app() + '/' + file));
            fuzz::check(baseline().contains(file) || named,
                        "only the files pages name are written, and no leftovers");
            if (!named) {
                fuzz::check(fileContent(folder_.app() + '/' + file) == baseline().value(file),
                            "a profile no page named keeps its content");
            }
        }
    }

  private:
    QString absolute(const QString& relative) const {
        const QString path = store_.absolutePath(relative);
        if (!path.isEmpty()) {
            fuzz::check(path == folder_.app() + QLatin1Char('/') + relative,
                        "an absolute path joins the folder and the page's path as text");
            const QString clean = QDir::cleanPath(path);
            fuzz::check(clean == folder_.app() || clean.startsWith(folder_.app() + '/'),
                        "an absolute path stays inside the application folder");
        }
        return path;
    }

    void modify(const QString& relative, const QString& content) {
        const QString path = absolute(relative);
        const bool existed = !path.isEmpty() && QFileInfo(path).isFile();
        const QByteArray before = existed ? fileContent(path) : QByteArray();
        const QMap<QString, QString> cacheBefore = store_.profileCache();
        const QStringList dirtyBefore = store_.dirtyProfiles();
        std::string sent;
        const bool wellFormed = pageDocument(content, sent);

        const ProfileAnswer answer = store_.modifyProfileXml(relative, content);
        if (answer.kind != ProfileAnswer::Success) {
            fuzz::check(answer.kind == ProfileAnswer::Failure &&
                            answer.text == QLatin1String("modifyProfileXml failed!"),
                        "modifyProfileXml answers its success or its failure");
            fuzz::check(
                store_.profileCache() == cacheBefore && store_.dirtyProfiles() == dirtyBefore,
                "a refused change leaves the cache as it was");
            fuzz::check(!existed || fileContent(path) == before,
                        "a refused change leaves the file as it was");
            fuzz::check(!wellFormed || path.isEmpty() || !existed,
                        "well-formed XML for an existing profile is taken");
            return;
        }
        fuzz::check(answer.text == QLatin1String("modifyProfileXml success"),
                    "modifyProfileXml answers its success text");
        fuzz::check(!path.isEmpty() && wellFormed,
                    "only well-formed XML inside the folder is taken");
        named_.insert(QDir::cleanPath(path));
        const QString stored = store_.cachedProfile(path);
        std::string reprinted;
        fuzz::check(pageDocument(stored, reprinted), "a reprinted profile parses again");
        fuzz::check(reprinted == sent, "a reprinted profile holds what the page sent");
        fuzz::check(store_.dirtyProfiles().count(path) == 1, "a changed profile is dirty once");
        if (existed)
            fuzz::check(fileContent(path) == before, "an existing profile waits for savexml");
        else
            fuzz::check(fileContent(path) == stored.toUtf8(), "a new profile is written at once");
    }

    void query(const QString& relative, const QString& xpath) {
        const QString path = absolute(relative);
        ProfileAnswer answer;
        try {
            answer = store_.queryProfile(relative, xpath);
        } catch (...) {
            fuzz::fail("queryProfile never throws");
        }
        if (answer.kind != ProfileAnswer::Success) {
            fuzz::check(answer.kind == ProfileAnswer::Failure &&
                            answer.text == QLatin1String("queryProfile load xml file failed!"),
                        "queryProfile answers its success or its failure");
            return;
        }
        // Only a readable profile and a node-set expression give an answer; it is what the
        // expression selects, printed.
        fuzz::check(!path.isEmpty() && store_.profileCache().contains(path),
                    "an answered query read its profile");
        const QByteArray text = store_.cachedProfile(path).toUtf8();
        pugi::xml_document document;
        fuzz::check(bool(document.load_buffer(text.constData(), size_t(text.size()),
                                              pugi::parse_default, pugi::encoding_utf8)),
                    "an answered query's profile parses");
        pugi::xpath_node_set nodes;
        try {
            const QByteArray expression(xpath.toUtf8().constData());
            nodes = document.select_nodes(expression.constData());
        } catch (const pugi::xpath_exception&) {
            fuzz::fail("an answered query's expression is a node set");
        }
        xml_string_writer writer;
        for (const pugi::xpath_node& item : nodes) {
            if (item.node())
                item.node().print(writer, "\t", pugi::format_indent, pugi::encoding_auto, 0);
        }
        fuzz::check(answer.text == QString::fromStdString(writer.result),
                    "the answer is the selected nodes, printed");
    }

    void save() {
        const QStringList dirty = store_.dirtyProfiles();
        const ProfileAnswer answer = store_.savexml();
        if (answer.kind == ProfileAnswer::None) {
            fuzz::check(store_.profileCache().isEmpty() || !store_.dirtyProfiles().isEmpty(),
                        "savexml is silent only with nothing cached or a file unwritten");
            return;
        }
        fuzz::check(answer.kind == ProfileAnswer::Success &&
                        answer.text == QLatin1String("save xml success"),
                    "savexml answers its success text");
        fuzz::check(store_.dirtyProfiles().isEmpty(), "a successful save leaves nothing dirty");
        checkWritten(dirty);
    }

    void flush() {
        const QStringList dirty = store_.dirtyProfiles();
        if (store_.flushProfiles()) {
            fuzz::check(store_.dirtyProfiles().isEmpty(), "a complete flush leaves nothing dirty");
            checkWritten(dirty);
        }
    }

    void checkWritten(const QStringList& paths) const {
        for (const QString& path : paths) {
            const QByteArray content = fileContent(path);
            fuzz::check(content == store_.cachedProfile(path).toUtf8(),
                        "a saved profile holds its cached text");
            pugi::xml_document document;
            fuzz::check(bool(document.load_buffer(content.constData(), size_t(content.size()),
                                                  pugi::parse_default, pugi::encoding_utf8)),
                        "a saved profile parses again");
        }
    }

    const fuzz::TempAppFolder& folder_;
    ProfileStore store_;
    QSet<QString> named_;
};

}  // namespace

// The input: commands separated by lines of "%%". Each begins with a line "modify <path>",
// "query <path>", "save" or "flush" (any other line is a path to make absolute); the rest of
// the command is the XML text or the XPath expression.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Session session;
    const QStringList commands = fuzz::records(fuzz::text(data, size));
    for (const QString& command : commands.mid(0, 16))
        session.run(command);
    session.checkFolder();
    return 0;
}
