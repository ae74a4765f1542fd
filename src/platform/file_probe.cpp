// STUB: to be replaced.
#include "platform/file_probe.h"
#include <sys/stat.h>
namespace kestab::platform {
std::string mapDrivePath(std::string_view path) { return std::string(path); }
bool fileExists(std::string_view directory, std::string_view name) {
    std::string joined = mapDrivePath(std::string(directory) + std::string(name));
    struct stat st;
    return stat(joined.c_str(), &st) == 0;
}
}
