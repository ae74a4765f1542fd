// printf-style formatting into a std::string, for every layer.
#pragma once

#include <cstdarg>
#include <string>

namespace kestab {

// The text printf would write for `format` and `args`; empty when the format
// cannot be applied. `args` is consumed: the caller still ends it (va_end).
std::string vformatText(const char* format, va_list args);

}  // namespace kestab
