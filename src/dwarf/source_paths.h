// The spelling of source-file paths as the DIE walk and the line-table pass
// compare them.
#pragma once

#include <string>
#include <string_view>

namespace kestab {

// Runs of '/' become one and "/./" becomes "/"; a leading "./" stays.
std::string normalizePath(std::string_view path);

// A directory and a name joined by one '/', none added when the directory
// already ends in one; an absolute name stands for itself.
std::string joinPath(std::string_view directory, std::string_view name);

}  // namespace kestab
