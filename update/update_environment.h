#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class DcLibrary;

namespace platform {
class ShellOperations;
}

namespace update {

// What the update system works with: set once at start-up (or by a test), read from the
// download threads afterwards.
struct Environment {
    QString appFolder;  // with a trailing "/"
    platform::ShellOperations* shell = nullptr;
    // The publisher's Ed25519 public key (conf.xml's updateKey, decoded); empty when packages
    // are not signed.
    QByteArray publicKey;
    // The update service the check asked (conf.xml's updateServer). Without a key, packages
    // are taken only when it and the package's URL are trusted transports.
    QString updateServer;
    // The device library firmware is written through, and the first device's id; set once
    // the window (which holds the library) exists.
    const DcLibrary* library = nullptr;
    QString firstDeviceId;
    // What is installed, for the version rule: conf.xml's client version and the first device's
    // firmware version (empty when unknown). The pages' version is kept in a file of its own.
    QString clientVersion;
    QString firmwareVersion;
    // conf.xml's allowDowngrade="true": support may install an older package; each is logged.
    bool allowDowngrade = false;
    // The language the user chose for the pages ("zh" or "en"), asked on the GUI thread when a
    // dialog text is shown; without it the dialog speaks Chinese.
    std::function<QString()> language;
};

void setEnvironment(const Environment& environment);
Environment environment();

// The installed version of a package kind ("client", "html", "firmware"); empty when unknown.
QString installedVersion(const Environment& environment, const QString& kind);
// Records the version of the pages just installed.
void recordPagesVersion(const Environment& environment, const QString& version);

}  // namespace update
