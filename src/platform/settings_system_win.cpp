// The settings of this process on Windows: the system registry below
// HKEY_LOCAL_MACHINE, read only.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/settings_store.h"

namespace kestab::platform {

namespace {

// An open registry key, closed when its owner goes.
class Key {
public:
    Key(const std::string& path, REGSAM view) {
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | view, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key() {
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    bool open() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// A string value (REG_SZ, or REG_EXPAND_SZ taken as stored) up to its
// first NUL; nothing for a missing value or one of any other type.
std::optional<std::string> queryString(HKEY key, const std::string& valueName) {
    std::vector<char> buffer(256);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        auto size = static_cast<DWORD>(buffer.size());
        const LONG rc =
            ::RegQueryValueExA(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (rc == ERROR_MORE_DATA) {
            buffer.resize(static_cast<std::size_t>(size) + 1);
            continue;
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
        std::string value(buffer.data(), size);
        return value.substr(0, value.find('\0'));
    }
    return std::nullopt;  // a value that keeps growing while it is read
}

}  // namespace

SettingsStore SettingsStore::fromEnvironment() {
    SettingsStore store;
    store.system_ = true;
    return store;
}

std::optional<std::string> SettingsStore::readSystem(std::string_view keyPath, std::string_view valueName) {
    const std::string path(keyPath);
    // The 32-bit view first: a 32-bit IDE's installer writes there
    // (SOFTWARE\Wow6432Node on a 64-bit system).
    Key key(path, KEY_WOW64_32KEY);
    if (!key.open()) {
        Key native(path, KEY_WOW64_64KEY);
        if (!native.open()) return std::nullopt;
        return queryString(native.get(), std::string(valueName));
    }
    return queryString(key.get(), std::string(valueName));
}

}  // namespace kestab::platform
