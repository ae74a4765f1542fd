// The .reg text parser.
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
#include "platform/reg_parser.h"

#include <cstdint>
#include <utility>

namespace kestab::platform {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
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

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && lowerAscii(a) == lowerAscii(b);
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
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

// The text without its byte-order mark, in UTF-8: a UTF-16LE text is
// converted into `converted`.
std::string_view asUtf8(std::string_view text, std::string& converted) {
    if (text.size() >= 2 && static_cast<std::uint8_t>(text[0]) == 0xFF && static_cast<std::uint8_t>(text[1]) == 0xFE) {
        converted = utf16leToUtf8(text.substr(2));
        return converted;
    }
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The character a Wine letter escape (\a \b \e \f \n \r \t \v) stands for,
// or '\0' when `c` is not one of those letters.
char wineLetterEscape(char c) {
    constexpr std::string_view kLetters = "abefnrtv";
    constexpr std::string_view kCharacters = "\a\b\x1b\f\n\r\t\v";
    const std::size_t at = kLetters.find(c);
    return at == std::string_view::npos ? '\0' : kCharacters[at];
}

enum class Dialect { Regedit, Wine };

class Parser {
public:
    explicit Parser(RegistryKeys& keys) : keys_(keys) {}

    // Fills the key map; on failure returns the error and the map is to be
    // discarded by the caller.
    std::optional<RegParseError> parse(std::string_view text) {
        std::string converted;
        text = asUtf8(text, converted);

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
    RegParseError error(std::string message) const { return RegParseError{line_, std::move(message)}; }

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

    std::optional<RegParseError> section(std::string_view lineText) {
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
    std::optional<RegParseError> value(std::string_view lineText, bool& continuation) {
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
        if (const char plain = wineLetterEscape(c); plain != '\0') {
            out.push_back(plain);
            return true;
        }
        if (c == 'x') {
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

    RegistryKeys& keys_;
    Dialect dialect_ = Dialect::Regedit;
    bool wineMachineRoot_ = true;  // system.reg holds the machine root
    std::optional<std::string> currentKey_;
    unsigned line_ = 0;
};

}  // namespace

std::optional<RegParseError> parseRegText(std::string_view text, RegistryKeys& keys) {
    return Parser(keys).parse(text);
}

}  // namespace kestab::platform
