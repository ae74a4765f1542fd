#include "tables/string_pool.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace kestab {

bool StringPool::reserve(std::size_t units) {
    const std::size_t bytes = units >= 2 ? (units - 2) * kUnitSize : 0;
    try {
        bytes_.reserve(bytes);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

PoolOffset StringPool::append(std::string_view text) {
    const auto offset = static_cast<PoolOffset>(bytes_.size());
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    bytes_.push_back('\0');
    return offset;
}

std::string_view StringPool::view(PoolOffset offset) const {
    if (offset >= bytes_.size()) return {};
    const char* start = bytes_.data() + offset;
    return std::string_view(start, std::strlen(start));
}

std::string StringPool::copyOut(PoolOffset offset) const { return std::string(view(offset)); }

}  // namespace kestab
