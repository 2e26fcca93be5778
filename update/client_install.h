#pragma once

#include <QString>

#include "update/update_environment.h"

// A downloaded client update: the new updater is put in place, and at process exit the updater
// replaces the client. The dialog announces the staged version; the application records it.
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

// At exit, after the browser engine is shut down: starts the updater when an update waits.
void launchUpdater(const Environment& environment);

}  // namespace update
