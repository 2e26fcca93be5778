#pragma once

#include <QString>

#include <optional>

#include "update/update_environment.h"

// A downloaded client update: at process exit the updater (the new one, from the ready folder)
// replaces the client and itself. The staged version is recorded only after the updater
// installed it.
namespace update {

// The updater program's file name in the installation folder.
QString updaterProgram();

// A client update is ready: run the updater at exit.
bool clientUpdatePending();
void setClientUpdatePending(bool pending);
// The installation folder refuses new files: the updater runs elevated.
bool updaterNeedsElevation();

// Whether a client update is ready in tupdates/client/ready, and whether its updater will need
// the rights to write; false when the update cannot go on.
bool checkReadyUpdate(const Environment& environment);

// At start-up, before anything else: finishes or undoes a client update that an updater left
// half done (killed, or the machine went down), so the installation is wholly new or wholly
// old. Waits for an updater that is still at work.
void settleInterruptedUpdate(const Environment& environment);

// Notes `version` as the staged client's, to be recorded once the updater has installed it.
void stageClientVersion(const Environment& environment, const QString& version);

// At start-up, what the updater's last run means for the client: the staged version when it
// was installed (to be recorded now). A staged update still waiting (the updater failed, or
// never ran) makes the updater run again at exit; one it refused is forgotten.
std::optional<QString> takeInstalledClientVersion(const Environment& environment);

// At exit, after the browser engine is shut down: starts the updater when an update waits.
void launchUpdater(const Environment& environment);

}  // namespace update
