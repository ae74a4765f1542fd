#include "tables/file_table.h"

namespace kestab {

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

}  // namespace kestab
