#include "app/DataDir.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kestrix::app {

std::string DefaultDataDir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/kestrix";
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.local/share/kestrix";
    return ".kestrix";
}

bool EnsureDirectory(const std::string& dir, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    if (!std::filesystem::is_directory(dir, ec)) {
        error = dir + " is not a folder";
        return false;
    }
    return true;
}

std::string RegistryFileIn(const std::string& dataDir) { return dataDir + "/registry.reg"; }

}  // namespace kestrix::app
