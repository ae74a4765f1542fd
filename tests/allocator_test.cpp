// The allocator the program runs on (its own cache in front of glibc's where
// it has one): bursts of small blocks of every size, freed in another order
// and on another thread, each holding what was asked of it.
#include <malloc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace kestab {
namespace {

struct Block {
    unsigned char* bytes;
    std::size_t size;
    unsigned char mark;
};

// Whether the block still holds its own mark throughout.
bool intact(const Block& block) {
    return std::all_of(block.bytes, block.bytes + block.size, [&](unsigned char b) { return b == block.mark; });
}

TEST(Allocator, BlocksHoldTheirRequestsThroughBurstsAndThreads) {
    std::mt19937 random(20261210);
    std::vector<Block> live;
    unsigned char nextMark = 1;
    auto take = [&](std::size_t size) {
        auto* bytes = static_cast<unsigned char*>(std::malloc(size));
        ASSERT_NE(bytes, nullptr);
        ASSERT_GE(malloc_usable_size(bytes), size);
        const unsigned char mark = nextMark;
        nextMark = static_cast<unsigned char>(nextMark % 250 + 1);
        std::memset(bytes, mark, size);
        live.push_back(Block{bytes, size, mark});
    };
    // Bursts of up to 300 blocks of 0 to 299 bytes, across every size the
    // cache keeps and beyond, half of them given back in another order.
    for (int round = 0; round < 60; ++round) {
        const std::size_t burst = 1 + random() % 300;
        for (std::size_t i = 0; i < burst; ++i) take(random() % 300);
        std::shuffle(live.begin(), live.end(), random);
        for (std::size_t i = 0; i < live.size() / 2; ++i) {
            ASSERT_TRUE(intact(live.back()));
            std::free(live.back().bytes);
            live.pop_back();
        }
    }
    // Blocks used before come back cleared from calloc.
    for (std::size_t size = 1; size <= 300; size += 7) {
        auto* cleared = static_cast<unsigned char*>(std::calloc(size, 1));
        ASSERT_NE(cleared, nullptr);
        EXPECT_TRUE(std::all_of(cleared, cleared + size, [](unsigned char b) { return b == 0; })) << size;
        std::free(cleared);
    }
    // Another thread gives back half of these blocks and takes its own.
    const std::vector<Block> handedOver(live.begin(), live.begin() + static_cast<std::ptrdiff_t>(live.size() / 2));
    live.erase(live.begin(), live.begin() + static_cast<std::ptrdiff_t>(handedOver.size()));
    bool othersIntact = true;
    std::thread other([&] {
        for (const Block& block : handedOver) {
            othersIntact = othersIntact && intact(block);
            std::free(block.bytes);
        }
        std::vector<void*> own;
        for (std::size_t size = 0; size < 300; ++size) own.push_back(std::malloc(size));
        for (void* block : own) std::free(block);
    });
    other.join();
    EXPECT_TRUE(othersIntact);
    for (std::size_t size = 0; size < 300; size += 3) take(size);
    for (const Block& block : live) {
        EXPECT_TRUE(intact(block)) << block.size;
        std::free(block.bytes);
    }
}

}  // namespace
}  // namespace kestab
