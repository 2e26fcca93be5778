#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <pugixml.hpp>

// What a profile command tells the page: Success(text), Failure(0, text) or nothing at all.
struct ProfileAnswer {
    enum Kind { Success, Failure, None };
    Kind kind = None;
    QString text;

    static ProfileAnswer success(const QString& text) { return {Success, text}; }
    static ProfileAnswer failure(const QString& text) { return {Failure, text}; }
    static ProfileAnswer none() { return {None, QString()}; }
};

// The profile XML files below the application folder, held as text in memory, changed there and
// written back on request. Runs on the GUI thread only.
class ProfileStore {
  public:
    // `appFolder`: the executable's folder without trailing separator.
    explicit ProfileStore(const QString& appFolder);

    // Absolute path of a page-supplied relative path, joined as text without normalisation;
    // empty when the path would leave the application folder (storage::pathInside).
    QString absolutePath(const QString& relativePath) const;

    // Makes sure `profileCache` holds the text of `path` (an absolute path inside the
    // application folder); returns whether it does.
    bool cacheProfile(const QString& path);
    // The cached text of `path`; empty when it is not cached.
    QString cachedProfile(const QString& path) const;

    // Writes every dirty profile; those that fail stay dirty. True when all were written.
    bool flushProfiles();

    // A file that does not parse is moved aside under a dated name (damagedCopy), so that
    // nothing written later replaces what the user may still need.
    ProfileAnswer queryProfile(const QString& filePath, const QString& xpath);
    ProfileAnswer modifyProfileXml(const QString& filePath, const QString& contentStr);
    ProfileAnswer savexml();

    // Where the damaged file at the page-supplied `filePath` was kept, relative to the
    // application folder; empty when it was not found damaged in this run.
    QString damagedCopy(const QString& filePath) const;

    const QMap<QString, QString>& profileCache() const { return profileCache_; }
    const QStringList& dirtyProfiles() const { return dirtyProfiles_; }

  private:
    bool insideAppFolder(const QString& path) const;
    void keepDamagedAside(const QString& path);
    bool writeDirtyProfiles();

    QString appFolder_;
    QMap<QString, QString> profileCache_;
    QStringList dirtyProfiles_;
    QMap<QString, QString> damaged_;  // absolute path -> the copy kept aside
};

// Parses profile text with pugixml's default options, as the UTF-8 form of the text.
bool parseProfileText(const QString& text, pugi::xml_document& document);

// Evaluates `xpath` as a node-set query on `root`. False, never an exception, when pugixml
// rejects the expression, it does not yield a node set, or its work on this profile cannot be
// bounded beforehand (then logged).
bool selectProfileNodes(const pugi::xml_node& root, const QString& xpath,
                        pugi::xpath_node_set& result);
