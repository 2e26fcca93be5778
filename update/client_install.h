#pragma once

#include <QString>

#include <optional>

#include "update/update_environment.h"

// A downloaded client update: the new updater is put in place, and at process exit the updater
// replaces the client. The staged version is recorded only after the updater installed it.
namespace update {

// The updater program's file name in the installation folder.
QString updaterProgram();

// A client update is ready: run the updater at exit.
bool clientUpdatePending();
void setClientUpdatePending(bool pending);
// Copying the updater was refused for want of rights: it runs elevated from the ready folder.
bool updaterNeedsElevation();

// Moves the new updater out of tupdates/client/ready; false when the update cannot go on.
bool checkReadyUpdate(const Environment& environment);

// Notes `version` as the staged client's, to be recorded once the updater has installed it.
void stageClientVersion(const Environment& environment, const QString& version);

// At start-up, what the updater's last run means for the client: the staged version when it
// was installed (to be recorded now). A staged update still waiting (the updater failed, or
// never ran) makes the updater run again at exit; one it refused is forgotten.
std::optional<QString> takeInstalledClientVersion(const Environment& environment);

// At exit, after the browser engine is shut down: starts the updater when an update waits.
void launchUpdater(const Environment& environment);

}  // namespace update
