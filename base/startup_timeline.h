#pragma once

// The start-up timeline: each phase of start-up marks its end, and with
// VELMORA_STARTUP_TIMELINE set in the environment every first mark of a phase is printed to
// standard error as "startup <monotonic ms> <phase>" (the clock of QElapsedTimer, shared with
// the benchmark that starts the program). Without it a mark costs one flag test.

namespace startup {

void mark(const char* phase);

}  // namespace startup
