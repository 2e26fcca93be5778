// XPath from pages, evaluated on the GUI thread: on a profile large enough that an expression
// meeting every node once per other node runs for many seconds, what selectProfileNodes accepts
// is evaluated and printed within a fixed time, and nothing it is given throws.

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

#include <ctime>

#include "base/xml_string_writer.h"
#include "commands/profile_store.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/temp_app_folder.h"
#include "fuzz/text_input.h"

namespace {

// Well above what the work bound admits here (a tenth of a second with the sanitizers), well
// below what one pass per pair of siblings or of nodes takes (ten seconds and more).
constexpr double kAcceptedSeconds = 2.0;
// Deciding costs one walk over the profile.
constexpr double kRefusedSeconds = 0.5;

// A profile holding many settings side by side, stored macros, and one deeply nested branch:
// twenty thousand siblings make a pass per pair of them cost seconds.
QByteArray largeProfile() {
    const int buttons = 20000;
    QByteArray text = "<profile model=\"vm100\" name=\"Large\"><buttons>";
    for (int i = 0; i < buttons; ++i) {
        text += "<button id=\"" + QByteArray::number(i) + "\" code=\"0x" +
                QByteArray::number(i % 256, 16) + "\"/>";
    }
    text += "</buttons><macros>";
    for (int i = 0; i < 100; ++i) {
        text += "<macro name=\"m" + QByteArray::number(i) +
                "\"><down key=\"A\"/><delay ms=\"50\">fifty</delay><up key=\"A\"/></macro>";
    }
    text += "</macros>";
    for (int depth = 0; depth < 150; ++depth)
        text += "<layer depth=\"" + QByteArray::number(depth) + "\">";
    for (int depth = 0; depth < 150; ++depth)
        text += "</layer>";
    return text + "</profile>";
}

struct Setup {
    pugi::xml_document document;
    Setup() {
        fuzz::silenceLogs();
        if (!parseProfileText(QString::fromUtf8(largeProfile()), document))
            qFatal("the large profile does not parse");
    }
};

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    const QString xpath = fuzz::text(data, size);

    const double start = threadSeconds();
    pugi::xpath_node_set nodes;
    bool accepted = false;
    try {
        accepted = selectProfileNodes(setup.document, xpath, nodes);
        // What queryProfile answers is part of the work.
        xml_string_writer writer;
        for (const pugi::xpath_node& item : nodes) {
            if (item.node())
                item.node().print(writer, "\t", pugi::format_indent, pugi::encoding_auto, 0);
        }
    } catch (...) {
        fuzz::fail("a page's XPath never throws");
    }
    const double spent = threadSeconds() - start;
    if (accepted)
        fuzz::check(spent < kAcceptedSeconds, "an accepted query stays within its bound");
    else
        fuzz::check(spent < kRefusedSeconds && nodes.empty(), "a refused query costs one walk");
    return 0;
}
