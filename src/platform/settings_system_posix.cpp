// Where the settings of this process come from on POSIX: a .reg file named
// by the environment, or Wine's own registry file.
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/settings_store.h"

namespace kestab::platform {

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

SettingsStore SettingsStore::fromEnvironment() {
    std::string path = environmentValue("KESTAB_REGISTRY");
    if (path.empty()) {
        std::string prefix = environmentValue("WINEPREFIX");
        if (prefix.empty()) {
            const std::string home = environmentValue("HOME");
            if (home.empty()) return {};
            prefix = home + "/.wine";
        }
        path = prefix + "/system.reg";
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return {};
    }
    return fromFile(path);
}

// Never asked: a POSIX store is always a file.
std::optional<std::string> SettingsStore::readSystem(std::string_view, std::string_view) { return std::nullopt; }

}  // namespace kestab::platform
