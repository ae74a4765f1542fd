#include "dwarf/source_paths.h"

namespace kestab {

std::string normalizePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        if (c == '/') {
            if (!out.empty() && out.back() == '/') continue;
            // "/./" becomes "/": drop the '.' that follows a '/'.
            const std::size_t n = out.size();
            if (n >= 2 && out[n - 1] == '.' && out[n - 2] == '/') {
                out.pop_back();
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

std::string joinPath(std::string_view directory, std::string_view name) {
    if (!name.empty() && name.front() == '/') return std::string(name);
    std::string path(directory);
    if (path.empty() || path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

}  // namespace kestab
