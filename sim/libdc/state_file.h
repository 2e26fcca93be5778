#pragma once

// The file that keeps the simulated device's state between runs, shared by the library and the
// dcsim control tool, which may both run at once.

#include <filesystem>
#include <string>

#include "sim/libdc/sim_device.h"

namespace dcsim {

// Folder of the module (shared library or program) this code is linked into; empty when the
// system cannot tell.
std::filesystem::path moduleFolder();

// VELMORA_SIM_STATE when set, else "dcsim.state" beside the module, else in the current folder.
std::filesystem::path defaultStatePath();

// Writes `text` into `temporary`, then renames it over `path`, so readers see the old or the
// new text; the temporary file is removed when anything fails.
bool replaceFile(const std::filesystem::path& path, const std::filesystem::path& temporary,
                 const std::string& text);

class StateFile {
  public:
    explicit StateFile(std::filesystem::path path);

    const std::filesystem::path& path() const { return path_; }

    // What identifies one written version of the file: every save replaces it by a new one.
    struct Stamp {
        bool exists = false;
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified{};
        bool operator==(const Stamp& other) const;
        bool operator!=(const Stamp& other) const { return !(*this == other); }
    };
    Stamp stamp() const;

    enum class LoadResult { Loaded, Missing, Unreadable, SetAside };
    // A file that is not a state file is renamed to "<name>.bad" rather than overwritten later.
    LoadResult load(DeviceState& state) const;

    // Writes a temporary file beside the target and renames it over the target, so that a
    // reader never sees half a state.
    bool save(const DeviceState& state) const;

    // Serialises read-modify-write cycles between processes: a lock folder beside the file.
    // A lock older than a couple of seconds is taken to be left over from a crash and broken.
    // When no lock can be created at all (read-only folder) the holder goes on unlocked; it
    // cannot save then either.
    class Lock {
      public:
        explicit Lock(const StateFile& file);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        std::filesystem::path path_;
        bool held_ = false;
    };

  private:
    std::filesystem::path path_;
};

}  // namespace dcsim
