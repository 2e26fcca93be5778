// Records a crash dump the program left behind: one line in crashes.log beside the dump.

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: CrashReporter <dump file>\n";
        return 2;
    }
    const std::filesystem::path dump(argv[1]);
    std::error_code error;
    const auto size = std::filesystem::file_size(dump, error);
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", std::localtime(&now));

    std::ofstream log(dump.parent_path() / "crashes.log", std::ios::app);
    if (!log)
        return 1;
    log << stamp << ' ' << dump.filename().string() << ' '
        << (error ? std::string("missing") : std::to_string(size) + " bytes") << '\n';
    return log ? 0 : 1;
}
