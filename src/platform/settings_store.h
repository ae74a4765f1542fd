// The settings store: the registry values the tool reads, kept on POSIX in a
// text file of the .reg format (a regedit export or Wine's system.reg).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/reg_parser.h"

namespace kestab::platform {

class SettingsStore {
public:
    // No store: every setting reads as missing.
    SettingsStore() = default;

    // The store of this process: the file named by KESTAB_REGISTRY, else
    // $WINEPREFIX/system.reg (WINEPREFIX defaults to $HOME/.wine) when it
    // exists, else none. A store that cannot be read or parsed is reported
    // once on standard error with its name and line number; it then reads
    // as empty.
    static SettingsStore fromEnvironment();
    static SettingsStore fromFile(const std::string& path);
    static SettingsStore fromText(std::string_view text, std::string_view storeName);

    // `keyPath` is relative to HKEY_LOCAL_MACHINE, with '\' separators
    // ("SOFTWARE\Quenrotech\Lumora"). Key paths and value names compare
    // without regard to case; only string values are answered.
    std::optional<std::string> read(std::string_view keyPath, std::string_view valueName) const;

private:
    RegistryKeys keys_;
};

}  // namespace kestab::platform
