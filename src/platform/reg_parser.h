// The .reg text parser behind the settings store.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestab::platform {

// lower-cased key path below HKEY_LOCAL_MACHINE -> lower-cased value name -> string value
using RegistryKeys = std::map<std::string, std::map<std::string, std::string>>;

struct RegParseError {
    unsigned line = 0;
    std::string message;
};

// Fills `keys` from the text of a .reg file (a regedit export or Wine's
// registry file); on failure returns the line and the reason, and `keys` is
// to be discarded by the caller.
std::optional<RegParseError> parseRegText(std::string_view text, RegistryKeys& keys);

// The forms look-ups compare in: ASCII lower case; for key paths also single
// '\' separators and none at either end.
std::string lowerAscii(std::string_view text);
std::string normaliseKey(std::string_view keyPath);

}  // namespace kestab::platform
