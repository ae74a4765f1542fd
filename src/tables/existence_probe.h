// The existence probe the passes are given for source files (in the tool,
// platform::fileExists; in tests, a fake).
#pragma once

#include <functional>
#include <string_view>

namespace kestab {

// True when `directory` followed directly by `name` names an existing file.
using ExistenceProbe = std::function<bool(std::string_view directory, std::string_view name)>;

}  // namespace kestab
