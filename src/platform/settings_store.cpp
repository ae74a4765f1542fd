// The settings store, read from a .reg text file.
//
// Two dialects are understood:
//   - a regedit export: first line "REGEDIT4" or "Windows Registry Editor
//     Version 5.00", sections "[HKEY_LOCAL_MACHINE\SOFTWARE\...]" written
//     as they stand (UTF-16LE with a byte-order mark is accepted as well);
//   - Wine's registry file: first line "WINE REGISTRY Version 2", sections
//     relative to the root named by its ";; All keys relative to" comment
//     (HKEY_LOCAL_MACHINE for system.reg), written with the same escapes as
//     the values and followed by a timestamp; "#time=", "#arch=" and other
//     '#' lines carry metadata and are skipped.
// Only keys below HKEY_LOCAL_MACHINE are kept, and only their string values.
#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/process_setup.h"

namespace kestab::platform {

namespace {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && lowerAscii(a) == lowerAscii(b);
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string normaliseKey(std::string_view keyPath) {
    // Lower case, single separators, no separator at either end.
    std::string out;
    for (char c : lowerAscii(keyPath)) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// regedit writes version 5 exports in UTF-16LE with a byte-order mark.
std::string utf16leToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) -> std::uint32_t {
        return static_cast<std::uint8_t>(bytes[i]) |
               (static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8);
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        appendUtf8(out, cp);
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

enum class Dialect { Regedit, Wine };

struct ParseError {
    unsigned line = 0;
    std::string message;
};

class Parser {
public:
    explicit Parser(std::map<std::string, std::map<std::string, std::string>>& keys) : keys_(keys) {}

    // Fills the key map; on failure returns the error and the map is to be
    // discarded by the caller.
    std::optional<ParseError> parse(std::string_view text) {
        std::string converted;
        if (text.size() >= 2 && static_cast<std::uint8_t>(text[0]) == 0xFF &&
            static_cast<std::uint8_t>(text[1]) == 0xFE) {
            converted = utf16leToUtf8(text.substr(2));
            text = converted;
        } else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
            text.remove_prefix(3);
        }

        bool sawHeader = false;
        bool continuation = false;  // inside a multi-line hex value
        std::size_t pos = 0;
        line_ = 0;
        while (pos < text.size()) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            std::string_view raw = text.substr(pos, end - pos);
            pos = end + 1;
            ++line_;
            if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

            if (continuation) {
                continuation = !trim(raw).empty() && trim(raw).back() == '\\';
                continue;
            }
            const std::string_view lineText = trim(raw);
            if (!sawHeader) {
                if (lineText.empty()) continue;
                if (lineText == "REGEDIT4" || lineText == "Windows Registry Editor Version 5.00") {
                    dialect_ = Dialect::Regedit;
                } else if (lineText == "WINE REGISTRY Version 2") {
                    dialect_ = Dialect::Wine;
                } else {
                    return error("not a registry file (unknown first line)");
                }
                sawHeader = true;
                continue;
            }
            if (lineText.empty()) continue;
            if (lineText.front() == ';') {
                noteRootComment(lineText);
                continue;
            }
            if (lineText.front() == '#') {
                if (dialect_ == Dialect::Wine) continue;  // #time=, #arch=, #link
                return error("unexpected line");
            }
            if (lineText.front() == '[') {
                if (auto failure = section(lineText)) return failure;
                continue;
            }
            if (lineText.front() == '"' || lineText.front() == '@') {
                if (auto failure = value(lineText, continuation)) return failure;
                continue;
            }
            return error("unexpected line");
        }
        if (!sawHeader) return error("empty registry file");
        return std::nullopt;
    }

private:
    ParseError error(std::string message) const { return ParseError{line_, std::move(message)}; }

    // ";; All keys relative to \\Machine" tells which root a Wine file holds.
    void noteRootComment(std::string_view lineText) {
        if (dialect_ != Dialect::Wine) return;
        constexpr std::string_view kPrefix = ";; All keys relative to ";
        if (!startsWithIgnoreCase(lineText, kPrefix)) return;
        std::string root;
        std::string_view rest = lineText.substr(kPrefix.size());
        for (char c : rest) {
            if (c != '\\') root.push_back(c);
        }
        wineMachineRoot_ = equalsIgnoreCase(trim(root), "Machine");
    }

    std::optional<ParseError> section(std::string_view lineText) {
        currentKey_.reset();
        std::string path;
        if (dialect_ == Dialect::Regedit) {
            // The name stands unescaped up to the last ']' of the line.
            if (lineText.back() != ']') return error("section name without closing ']'");
            std::string_view name = lineText.substr(1, lineText.size() - 2);
            if (!name.empty() && name.front() == '-') return std::nullopt;  // a deletion: no values
            constexpr std::string_view kRoots[] = {"HKEY_LOCAL_MACHINE", "HKLM"};
            bool machine = false;
            for (std::string_view root : kRoots) {
                if (equalsIgnoreCase(name, root)) {
                    name = {};
                    machine = true;
                } else if (startsWithIgnoreCase(name, root) && name[root.size()] == '\\') {
                    name.remove_prefix(root.size() + 1);
                    machine = true;
                }
                if (machine) break;
            }
            if (!machine) return std::nullopt;  // another root: its values are not ours
            path = name;
        } else {
            // Escaped name, closing ']' not escaped, then an optional timestamp.
            std::size_t i = 1;
            bool closed = false;
            while (i < lineText.size()) {
                const char c = lineText[i];
                if (c == ']') {
                    closed = true;
                    ++i;
                    break;
                }
                if (c == '\\') {
                    if (!unescape(lineText, i, path)) return error("bad escape in section name");
                    continue;
                }
                path.push_back(c);
                ++i;
            }
            if (!closed) return error("section name without closing ']'");
            for (char c : trim(lineText.substr(i))) {
                if (c < '0' || c > '9') return error("unexpected text after section name");
            }
            if (!wineMachineRoot_) return std::nullopt;
        }
        currentKey_ = normaliseKey(path);
        keys_[*currentKey_];  // a key without values still exists
        return std::nullopt;
    }

    // One value line: "name"=data or @=data.
    std::optional<ParseError> value(std::string_view lineText, bool& continuation) {
        std::size_t i = 0;
        std::string name;
        if (lineText[0] == '@') {
            i = 1;
        } else {
            if (!quoted(lineText, i, name)) return error("unterminated value name");
        }
        while (i < lineText.size() && (lineText[i] == ' ' || lineText[i] == '\t')) ++i;
        if (i >= lineText.size() || lineText[i] != '=') return error("'=' expected after value name");
        ++i;
        while (i < lineText.size() && (lineText[i] == ' ' || lineText[i] == '\t')) ++i;
        const std::string_view data = lineText.substr(i);
        if (data.empty()) return error("value without data");

        std::optional<std::string> text;
        if (data.front() == '"') {
            std::string content;
            std::size_t j = i;
            if (!quoted(lineText, j, content)) return error("unterminated string value");
            if (!trim(lineText.substr(j)).empty()) return error("unexpected text after string value");
            text = std::move(content);
        } else if (data == "-") {
            // a deletion: the value reads as missing
        } else {
            // dword:, hex:, hex(n):, str(n): and the like: kept out of the
            // answers. A hex dump may go on over lines ending in '\'.
            const std::size_t colon = data.find(':');
            if (colon == std::string_view::npos || colon == 0) return error("unknown value type");
            continuation = data.back() == '\\';
        }
        if (!currentKey_) return std::nullopt;  // outside any section we keep
        auto& values = keys_[*currentKey_];
        const std::string lowered = lowerAscii(name);
        if (text)
            values[lowered] = std::move(*text);
        else
            values.erase(lowered);
        return std::nullopt;
    }

    // Reads a "..." text starting at `i` (the opening quote); leaves `i`
    // after the closing quote.
    bool quoted(std::string_view lineText, std::size_t& i, std::string& out) const {
        ++i;
        while (i < lineText.size()) {
            const char c = lineText[i];
            if (c == '"') {
                ++i;
                return true;
            }
            if (c == '\\') {
                if (!unescape(lineText, i, out)) return false;
                continue;
            }
            out.push_back(c);
            ++i;
        }
        return false;
    }

    // One backslash escape at `i`. regedit writes only \\ and \"; Wine also
    // writes the C escapes, \xHHHH and octal numbers.
    bool unescape(std::string_view lineText, std::size_t& i, std::string& out) const {
        if (i + 1 >= lineText.size()) return false;
        const char c = lineText[i + 1];
        i += 2;
        if (dialect_ == Dialect::Regedit) {
            // Anything else after a backslash is kept as it stands.
            if (c != '\\' && c != '"') out.push_back('\\');
            out.push_back(c);
            return true;
        }
        switch (c) {
            case 'a':
                out.push_back('\a');
                return true;
            case 'b':
                out.push_back('\b');
                return true;
            case 'e':
                out.push_back('\x1b');
                return true;
            case 'f':
                out.push_back('\f');
                return true;
            case 'n':
                out.push_back('\n');
                return true;
            case 'r':
                out.push_back('\r');
                return true;
            case 't':
                out.push_back('\t');
                return true;
            case 'v':
                out.push_back('\v');
                return true;
            case 'x': {
                std::uint32_t cp = 0;
                int digits = 0;
                while (digits < 4 && i < lineText.size() && hexDigit(lineText[i]) >= 0) {
                    cp = cp * 16 + static_cast<std::uint32_t>(hexDigit(lineText[i]));
                    ++i;
                    ++digits;
                }
                if (digits == 0) return false;
                appendUtf8(out, cp);
                return true;
            }
            default:
                break;
        }
        if (c >= '0' && c <= '7') {
            std::uint32_t cp = static_cast<std::uint32_t>(c - '0');
            for (int digits = 1; digits < 3 && i < lineText.size() && lineText[i] >= '0' && lineText[i] <= '7';
                 ++digits) {
                cp = cp * 8 + static_cast<std::uint32_t>(lineText[i] - '0');
                ++i;
            }
            appendUtf8(out, cp);
            return true;
        }
        out.push_back(c);  // \\, \", \[, \] and anything else: the character itself
        return true;
    }

    std::map<std::string, std::map<std::string, std::string>>& keys_;
    Dialect dialect_ = Dialect::Regedit;
    bool wineMachineRoot_ = true;  // system.reg holds the machine root
    std::optional<std::string> currentKey_;
    unsigned line_ = 0;
};

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
std::optional<std::string> readWholeFile(const std::string& path, int& error) {
    constexpr std::size_t kMaxStoreBytes = std::size_t{64} << 20;
    const Fd fd = openRegularFile(path);
    if (!fd.valid()) {
        error = errno;
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
            if (content.size() > kMaxStoreBytes) {
                error = EFBIG;
                return std::nullopt;
            }
        } else if (n == 0) {
            return content;
        } else if (errno != EINTR) {
            error = errno;
            return std::nullopt;
        }
    }
}

// A store is reported at most once per process, however often it is loaded.
bool firstReport(const std::string& storeName) {
    static std::set<std::string> reported;
    return reported.insert(storeName).second;
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

SettingsStore SettingsStore::fromEnvironment() {
    std::string path = environmentValue("KESTAB_REGISTRY");
    if (path.empty()) {
        std::string prefix = environmentValue("WINEPREFIX");
        if (prefix.empty()) {
            const std::string home = environmentValue("HOME");
            if (home.empty()) return {};
            prefix = home + "/.wine";
        }
        path = prefix + "/system.reg";
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return {};
    }
    return fromFile(path);
}

SettingsStore SettingsStore::fromFile(const std::string& path) {
    int error = 0;
    const std::optional<std::string> content = readWholeFile(path, error);
    if (!content) {
        if (firstReport(path)) reportUnreadable(path, error);
        return {};
    }
    SettingsStore store;
    Parser parser(store.keys_);
    if (auto failure = parser.parse(*content)) {
        if (firstReport(path)) report(path, failure->line, failure->message);
        return {};
    }
    return store;
}

SettingsStore SettingsStore::fromText(std::string_view text, std::string_view storeName) {
    SettingsStore store;
    Parser parser(store.keys_);
    if (auto failure = parser.parse(text)) {
        report(storeName, failure->line, failure->message);
        return {};
    }
    return store;
}

std::optional<std::string> SettingsStore::read(std::string_view keyPath, std::string_view valueName) const {
    const auto key = keys_.find(normaliseKey(keyPath));
    if (key == keys_.end()) return std::nullopt;
    const auto value = key->second.find(lowerAscii(valueName));
    if (value == key->second.end()) return std::nullopt;
    return value->second;
}

}  // namespace kestab::platform
