// The existence probe. Names that come from the settings or from the
// debugging information may be drive paths; those are looked for where Wine
// or Cygwin keep that drive.
#include "platform/file_probe.h"

#include <sys/stat.h>

#include <cstdlib>

namespace kestab::platform {

namespace {

bool isDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char lowerLetter(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// $WINEPREFIX, or $HOME/.wine; empty when neither is set.
std::string winePrefix() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix != nullptr && *prefix != '\0') return prefix;
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return std::string(home) + "/.wine";
    return {};
}

}  // namespace

bool isDrivePath(std::string_view path) {
    return path.size() >= 3 && isDriveLetter(path[0]) && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

std::string mapDrivePath(std::string_view path) {
    if (!isDrivePath(path)) return std::string(path);
    const char letter = lowerLetter(path[0]);
    std::string rest(path.substr(2));
    for (char& c : rest) {
        if (c == '\\') c = '/';
    }
    const std::string prefix = winePrefix();
    if (!prefix.empty()) {
        // The dosdevices entry is normally a symbolic link; the entry itself
        // decides, not where it points.
        std::string device = prefix + "/dosdevices/" + letter + ":";
        struct stat st {};
        if (::lstat(device.c_str(), &st) == 0) return device + rest;
    }
    return std::string("/cygdrive/") + letter + rest;
}

bool pathExists(std::string_view path) {
    if (path.empty()) return false;
    const std::string text(path);
    struct stat st {};
    return ::stat(text.c_str(), &st) == 0;
}

std::string programPath(std::string_view path) {
    constexpr std::string_view kExeSuffix = ".exe";
    // A toolkit directory stored as a Windows drive path ("C:\GNUARM") is
    // looked up where that drive lives on this machine.
    std::string program = mapDrivePath(path);
    for (char& c : program) {
        if (c == '\\') c = '/';
    }
    if (program.ends_with(kExeSuffix) && !pathExists(program)) program.resize(program.size() - kExeSuffix.size());
    return program;
}

bool fileExists(std::string_view directory, std::string_view name) {
    std::string joined(directory);
    joined.append(name);
    return pathExists(mapDrivePath(joined));
}

}  // namespace kestab::platform
