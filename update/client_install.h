#pragma once

#include <QString>

#include "update/update_environment.h"

// A downloaded client update: the new updater is put in place, the new version recorded, and
// at process exit the updater replaces the client.
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

// Records `version` as the client's in conf.xml.
void writeClientVersion(const QString& version);

// At exit, after the browser engine is shut down: starts the updater when an update waits.
void launchUpdater(const Environment& environment);

}  // namespace update
