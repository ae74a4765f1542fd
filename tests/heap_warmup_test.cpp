// The heap made ready for reading an image: what it grows by afterwards is
// faulted in at once when asked, not page by page as it is first used.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/process_setup.h"

namespace kestab {
namespace {

// Pages of [from, to) that are in memory.
std::size_t residentPages(std::uintptr_t from, std::uintptr_t to) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    from &= ~(page - 1);
    std::vector<unsigned char> state((to - from + page - 1) / page);
    if (state.empty() || ::mincore(reinterpret_cast<void*>(from), to - from, state.data()) != 0) return 0;
    std::size_t resident = 0;
    for (const unsigned char s : state) resident += s & 1;
    return resident;
}

TEST(HeapWarmup, GrowthIsFaultedInWhenAsked) {
    platform::warmHeap(1 << 20);
    const auto warmed = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    // Blocks the size of a unit's share of the tables, never written to.
    std::vector<void*> blocks;
    while (reinterpret_cast<std::uintptr_t>(::sbrk(0)) < warmed + (1 << 20) && blocks.size() < 256)
        blocks.push_back(std::malloc(64 * 1024));
    const auto grown = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    if (grown <= warmed) {
        for (void* block : blocks) std::free(block);
        platform::endHeapWarmup();
        GTEST_SKIP() << "this allocator does not grow the heap proper";
    }
    const std::size_t pages = (grown - warmed) / static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    EXPECT_LT(residentPages(warmed, grown), pages);
    platform::warmHeapGrowth();
    EXPECT_EQ(residentPages(warmed, grown), pages);
    for (void* block : blocks) std::free(block);
    platform::endHeapWarmup();
}

}  // namespace
}  // namespace kestab
