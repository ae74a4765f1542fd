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

void FileTable::add(std::string_view name) {
    const auto index = count();
    entries_.push_back(pool_.append(name));
    firstIndex_.try_emplace(std::string(name), index);
}

std::int32_t FileTable::find(std::string_view name) const {
    const auto it = firstIndex_.find(std::string(name));
    return it == firstIndex_.end() ? -1 : static_cast<std::int32_t>(it->second);
}

void FileTable::renameFirst(std::string_view name) {
    if (entries_.empty()) return;
    const std::string old = pool_.copyOut(entries_[0]);
    const auto it = firstIndex_.find(old);
    if (it != firstIndex_.end() && it->second == 0) firstIndex_.erase(it);
    entries_[0] = pool_.append(name);
    firstIndex_[std::string(name)] = 0;
}

std::int32_t FileTable::find(const char* name) const {
    if (name == nullptr) return -1;
    return find(std::string_view(name));
}

}  // namespace kestab
