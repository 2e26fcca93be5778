#include "sim/libdc/state_file.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace dcsim {
namespace {

constexpr char kStateFileName[] = "dcsim.state";
constexpr auto kStaleLockAge = std::chrono::seconds(2);
constexpr auto kLockRetry = std::chrono::milliseconds(2);
constexpr auto kMinimumStep =
    std::chrono::duration_cast<fs::file_time_type::duration>(std::chrono::milliseconds(1));

fs::path withSuffix(const fs::path& path, const char* suffix) {
    fs::path result = path;
    result += suffix;
    return result;
}

}  // namespace

fs::path defaultStatePath() {
    if (const char* overridden = std::getenv("VELMORA_SIM_STATE"); overridden && *overridden)
        return fs::path(overridden);
    const fs::path folder = moduleFolder();
    return folder.empty() ? fs::path(kStateFileName) : folder / kStateFileName;
}

bool StateFile::Stamp::operator==(const Stamp& other) const {
    return exists == other.exists && size == other.size && modified == other.modified;
}

StateFile::StateFile(fs::path path) : path_(std::move(path)) {}

StateFile::Stamp StateFile::stamp() const {
    Stamp result;
    std::error_code ec;
    const auto size = fs::file_size(path_, ec);
    if (ec)
        return result;
    const auto modified = fs::last_write_time(path_, ec);
    if (ec)
        return result;
    result.exists = true;
    result.size = size;
    result.modified = modified;
    return result;
}

StateFile::LoadResult StateFile::load(DeviceState& state) const {
    std::error_code ec;
    if (!fs::exists(path_, ec))
        return ec ? LoadResult::Unreadable : LoadResult::Missing;
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return LoadResult::Unreadable;
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return LoadResult::Unreadable;
    in.close();
    if (parseState(text, state))
        return LoadResult::Loaded;
    fs::rename(path_, withSuffix(path_, ".bad"), ec);
    return ec ? LoadResult::Unreadable : LoadResult::SetAside;
}

bool replaceFile(const fs::path& path, const fs::path& temporary, const std::string& text) {
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

bool StateFile::save(const DeviceState& state) const {
    const Stamp before = stamp();
    if (!replaceFile(path_, withSuffix(path_, ".tmp"), serializeState(state)))
        return false;
    std::error_code ec;
    // File clocks tick coarsely (a few ms): two saves of equal size within one tick would
    // look alike to a watcher, so every version is made strictly newer than the one before.
    const auto modified = fs::last_write_time(path_, ec);
    if (!ec && before.exists && modified <= before.modified)
        fs::last_write_time(path_, before.modified + kMinimumStep, ec);
    return true;
}

StateFile::Lock::Lock(const StateFile& file) : path_(withSuffix(file.path(), ".lock")) {
    auto start = std::chrono::steady_clock::now();
    bool brokeStaleLock = false;
    for (;;) {
        std::error_code ec;
        if (fs::create_directory(path_, ec)) {
            held_ = true;
            return;
        }
        if (ec)
            return;
        if (std::chrono::steady_clock::now() - start > kStaleLockAge) {
            if (brokeStaleLock)
                return;
            fs::remove(path_, ec);
            brokeStaleLock = true;
            start = std::chrono::steady_clock::now();
        }
        std::this_thread::sleep_for(kLockRetry);
    }
}

StateFile::Lock::~Lock() {
    if (!held_)
        return;
    std::error_code ignored;
    fs::remove(path_, ignored);
}

}  // namespace dcsim
