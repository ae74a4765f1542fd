// A map from 32-bit keys (DIE offsets) to 32-bit values that keeps the first
// value given for a key: open addressing in one array, so that the tens of
// thousands of type rows of a large image cost no allocation each.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kestab {

class OffsetMap {
public:
    // Adds `key` with `value` unless the key is there already.
    void tryEmplace(std::uint32_t key, std::uint32_t value) {
        if (key == kFree) {
            if (!freeKeyValue_) freeKeyValue_ = value;
            return;
        }
        if ((count_ + 1) * 2 > slots_.size()) grow();
        Slot& slot = slots_[findSlot(key)];
        if (slot.key != kFree) return;
        slot = Slot{key, value};
        ++count_;
    }

    std::optional<std::uint32_t> find(std::uint32_t key) const {
        if (key == kFree) return freeKeyValue_;
        if (slots_.empty()) return std::nullopt;
        const Slot& slot = slots_[findSlot(key)];
        if (slot.key == kFree) return std::nullopt;
        return slot.value;
    }

    bool contains(std::uint32_t key) const { return find(key).has_value(); }

private:
    // A slot holding this key is free; the key itself, which no DIE of a
    // 32-bit unit has, is kept beside the array. Eight bytes a slot keep the
    // array of a large image's types small enough to stay in the cache and
    // cost fewer fresh pages.
    static constexpr std::uint32_t kFree = 0xffffffffu;

    struct Slot {
        std::uint32_t key = kFree;
        std::uint32_t value = 0;
    };

    // The slot that holds `key`, or the free slot where it would go; there
    // is always a free one, the array being at most half full.
    std::size_t findSlot(std::uint32_t key) const {
        const std::size_t mask = slots_.size() - 1;
        // Fibonacci hashing spreads offsets that differ only in low bits.
        std::size_t at = static_cast<std::size_t>((std::uint64_t{key} * 0x9E3779B97F4A7C15ull) >> 32) & mask;
        while (slots_[at].key != kFree && slots_[at].key != key) at = (at + 1) & mask;
        return at;
    }

    void grow() {
        const std::vector<Slot> previous = std::move(slots_);
        slots_.assign(previous.size() < 16 ? 32 : previous.size() * 2, Slot{});
        for (const Slot& slot : previous)
            if (slot.key != kFree) slots_[findSlot(slot.key)] = slot;
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
    std::optional<std::uint32_t> freeKeyValue_;
};

}  // namespace kestab
