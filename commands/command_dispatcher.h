#pragma once

// commands/: the page commands: the dispatcher (this file), its handlers, the profile store and
// the XPath work bound. What they act on comes through CommandHost (command_host.h), which the
// window implements. May use update/, macro/, webhost/, device/, platform/, storage/, base/.

#include <QString>
#include <QVariantMap>

#include <vector>

#include "commands/command_host.h"
#include "webhost/engine/engine.h"

// Runs the page commands: the query's `funcname` is matched exactly against the command
// table, in table order, and the command answers through the query's callback at most once.
class CommandDispatcher {
  public:
    explicit CommandDispatcher(CommandHost& host);

    // A parsed query; returns false when no command of that name exists (no answer then).
    bool dispatch(const QString& funcname, const QVariantMap& query,
                  const engine::QueryCallbackPtr& callback);

    // The command names in matching order.
    static QStringList commandNames();

  private:
    using Handler = void (CommandDispatcher::*)(const QVariantMap&,
                                                const engine::QueryCallbackPtr&);
    struct Command {
        const char* name;
        Handler handler;  // null: the command is known and gives no answer
    };
    static const std::vector<Command>& table();

    void getDevicesList(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void readDevicesDpiVal(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void readDevicesProp(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void writeDevicesProp(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void readByAddr(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void writeByAddr(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void isPropEmpty(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void cleanMacroByAddr(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void writeMacroByAddr(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void loadurl(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void queryProfile(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void modifyProfileXml(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void goback(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void goforward(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void savexml(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void getWindowsKeyboreadConfig(const QVariantMap& query,
                                   const engine::QueryCallbackPtr& callback);
    void closeX(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void closeApp(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void saveFileDialog(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void openFileDialog(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void openUrl(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void downloadFile(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void openView(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void closeView(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void sendMsgToMainBrowser(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void openFileDialogEx(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    // A profile written to, or read from, a file the user chooses in the dialog anywhere they
    // may: the only way a page reaches a file outside the application folder, once per choice.
    void exportProfileFile(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void importProfileFile(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    // Where a profile found damaged was kept aside, so the page can say so.
    void damagedProfile(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void setIME(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    // Input engine.
    void keyMapChanged(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void setVDevice(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void closeVDevice(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void playActions(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    // System mouse settings.
    void modifyMouseAcce(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void modifyMouseSpeed(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void modifyMouseScrollLines(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void modifyMouseScrollLinesX(const QVariantMap& query,
                                 const engine::QueryCallbackPtr& callback);
    void modifyMouseDoubleClick(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void getWindowsMouseConfig(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void mouseTracks(const QVariantMap& query, const engine::QueryCallbackPtr& callback);
    void modifyMouseAccel(const QVariantMap& query, const engine::QueryCallbackPtr& callback);

    CommandHost& host_;
};
