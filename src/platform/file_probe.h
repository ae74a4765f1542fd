// The existence probe for source files.
#pragma once

#include <string>
#include <string_view>

namespace kestab::platform {

// True when `directory` followed directly by `name` names an existing file or
// directory. A joined text that is a drive path ("X:" and '\' or '/') is
// first mapped to a POSIX path (see mapDrivePath).
bool fileExists(std::string_view directory, std::string_view name);

// "x:\rest" -> $WINEPREFIX/dosdevices/x: + "/rest" when that dosdevices entry
// exists, else /cygdrive/x + "/rest"; in the rest every '\' becomes '/'.
// Any other text is returned unchanged.
std::string mapDrivePath(std::string_view path);

// True for "X:" followed by '\' or '/', X a letter A-Z or a-z.
bool isDrivePath(std::string_view path);

// True when `path` names an existing file or directory, taken as it stands
// (no drive mapping).
bool pathExists(std::string_view path);

}  // namespace kestab::platform
