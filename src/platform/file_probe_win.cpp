// The existence probe on Windows: drive paths are native, so names are
// asked for as they stand.
#include <windows.h>

#include "platform/file_probe.h"

namespace kestab::platform {

bool isDrivePath(std::string_view path) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return path.size() >= 3 && letter(path[0]) && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

std::string mapDrivePath(std::string_view path) { return std::string(path); }

std::string programPath(std::string_view path) { return std::string(path); }

bool pathExists(std::string_view path) {
    if (path.empty()) return false;
    const std::string text(path);
    return ::GetFileAttributesA(text.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool fileExists(std::string_view directory, std::string_view name) {
    std::string joined(directory);
    joined.append(name);
    return pathExists(joined);
}

}  // namespace kestab::platform
