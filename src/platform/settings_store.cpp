// The settings store, read from a .reg text file (see reg_parser.h for the
// dialects understood).
#include "platform/settings_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/process_setup.h"

namespace kestab::platform {

namespace {

void report(std::string_view storeName, unsigned line, std::string_view message) {
    std::fprintf(stderr, "kestab: settings store %.*s, line %u: %.*s; its settings read as missing\n",
                 static_cast<int>(storeName.size()), storeName.data(), line, static_cast<int>(message.size()),
                 message.data());
}

void reportUnreadable(std::string_view storeName, int error) {
    std::fprintf(stderr, "kestab: settings store %.*s, line 0: cannot be read: %s; its settings read as missing\n",
                 static_cast<int>(storeName.size()), storeName.data(), std::strerror(error));
}

// The whole file, or the errno of the failure. The store is opened without
// blocking and must be a regular file (a FIFO would block the open, a device
// could be read forever) of at most kMaxStoreBytes (EFBIG).
std::optional<std::string> readStore(const std::string& path, int& error) {
    constexpr std::size_t kMaxStoreBytes = std::size_t{64} << 20;
    const Fd fd = openRegularFile(path);
    std::vector<unsigned char> bytes;
    if (!fd.valid() || !readWholeFile(fd.get(), bytes, kMaxStoreBytes)) {
        error = errno;
        return std::nullopt;
    }
    return std::string(bytes.begin(), bytes.end());
}

// A store is reported at most once per process, however often it is loaded.
bool firstReport(const std::string& storeName) {
    static std::set<std::string> reported;
    return reported.insert(storeName).second;
}

}  // namespace

SettingsStore SettingsStore::fromFile(const std::string& path) {
    int error = 0;
    const std::optional<std::string> content = readStore(path, error);
    if (!content) {
        if (firstReport(path)) reportUnreadable(path, error);
        return {};
    }
    SettingsStore store;
    if (auto failure = parseRegText(*content, store.keys_)) {
        if (firstReport(path)) report(path, failure->line, failure->message);
        return {};
    }
    return store;
}

SettingsStore SettingsStore::fromText(std::string_view text, std::string_view storeName) {
    SettingsStore store;
    if (auto failure = parseRegText(text, store.keys_)) {
        report(storeName, failure->line, failure->message);
        return {};
    }
    return store;
}

std::optional<std::string> SettingsStore::read(std::string_view keyPath, std::string_view valueName) const {
    if (system_) return readSystem(keyPath, valueName);
    const auto key = keys_.find(normaliseKey(keyPath));
    if (key == keys_.end()) return std::nullopt;
    const auto value = key->second.find(lowerAscii(valueName));
    if (value == key->second.end()) return std::nullopt;
    return value->second;
}

}  // namespace kestab::platform
