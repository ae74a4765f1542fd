// The existence probe for source files.
#pragma once

#include <string>
#include <string_view>

namespace kestab::platform {

// True when `directory` followed directly by `name` names an existing file or
// directory (GetFileAttributesA on Windows). On POSIX a joined text that is a
// drive path ("X:" and '\' or '/') is first mapped (see mapDrivePath).
bool fileExists(std::string_view directory, std::string_view name);

// POSIX: "x:\rest" -> $WINEPREFIX/dosdevices/x: + "/rest" when that
// dosdevices entry exists, else /cygdrive/x + "/rest"; in the rest every '\'
// becomes '/'. Any other text, and every text on Windows (where drive paths
// are native), is returned unchanged.
std::string mapDrivePath(std::string_view path);

// True for "X:" followed by '\' or '/', X a letter A-Z or a-z.
bool isDrivePath(std::string_view path);

// The file a program path in Windows form ("C:\tk\bin\x.exe") names on
// this system: on Windows the path itself; on POSIX the path with a drive
// mapped (mapDrivePath), every '\' turned into '/', and without ".exe" when
// no file of the full name exists.
std::string programPath(std::string_view path);

// True when `path` names an existing file or directory, taken as it stands
// (no drive mapping).
bool pathExists(std::string_view path);

}  // namespace kestab::platform
