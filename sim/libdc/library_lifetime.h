#pragma once

// How the library's own thread and the library's unloading get along on each system.
//
// On Linux the library's static destructor runs at dlclose() or exit() while the thread still
// runs, so it stops and joins the thread. Windows runs that destructor inside DllMain under the
// loader lock, where a thread can neither finish (its exit needs the lock) nor be left running
// in code about to be unmapped; there the thread keeps the library loaded while it runs, and
// at process termination the destructor finds the thread already ended by the system.

namespace dcsim {

// Called when the thread starts.
void keepLoadedWhileThreadRuns();

// True when the library is being detached because the process ends, after the system has
// stopped every other thread; the destructor must not wait for them then.
bool processIsEnding();

}  // namespace dcsim
