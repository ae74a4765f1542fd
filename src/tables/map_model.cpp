#include "tables/map_model.h"

#include <algorithm>
#include <new>

namespace kestab {

void MapModel::reserveForImage(std::uint64_t debugBytes) {
    const auto rows = static_cast<std::size_t>(std::min<std::uint64_t>(debugBytes / 64, 1u << 20));
    // Only a hint: without the room, the tables grow as they go.
    try {
        types.reserve(rows);
        symbols.reserve(rows);
    } catch (const std::bad_alloc&) {
    }
}

std::uint32_t TypeTable::add(TypeEntry entry) {
    const auto index = count();
    firstRow_.tryEmplace(entry.dieOffset, index);
    if (entry.kind == kTypeArray) firstArrayRow_.tryEmplace(entry.dieOffset, index);
    rows_.push_back(std::move(entry));
    return index;
}

void TypeTable::appendDimension(std::uint32_t value) {
    if (!rows_.empty()) rows_.back().dims.push_back(value);
}

void TypeTable::addAlias(std::uint32_t dieOffset, std::uint32_t targetOffset) {
    aliases_.tryEmplace(dieOffset, targetOffset);
}

std::optional<std::uint32_t> TypeTable::resolveKey(std::uint32_t key) const {
    for (int step = 0; step <= kMaxAliasSteps; ++step) {
        if (firstRow_.contains(key)) return key;
        const auto alias = aliases_.find(key);
        if (!alias) return std::nullopt;
        key = *alias;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> TypeTable::findRow(std::uint32_t key) const {
    const auto resolved = resolveKey(key);
    if (!resolved) return std::nullopt;
    return firstRow_.find(*resolved);
}

bool TypeTable::isArray(std::uint32_t key) const {
    const auto resolved = resolveKey(key);
    return resolved && firstArrayRow_.contains(*resolved);
}

void TypeTable::lookup(std::uint32_t key, std::uint32_t& byteSize, std::int32_t& encoding,
                       std::vector<std::uint32_t>& dims) const {
    const auto index = findRow(key);
    if (!index) return;
    const TypeEntry& entry = rows_[*index];
    byteSize = entry.byteSize;
    encoding = entry.encoding;
    dims = entry.dims;
}

}  // namespace kestab
