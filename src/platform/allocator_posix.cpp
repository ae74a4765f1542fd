// malloc, free and calloc for this program on glibc: a cache per thread in
// front of glibc's allocator for small blocks, and calloc through it.
//
// libdwarf takes a block for every DIE, attribute list and attribute it
// hands out and gives them back a DIE or a list at a time: bursts of dozens
// of blocks of a few sizes. glibc keeps seven blocks of a size for a
// thread; the others went through its bins, a tenth of reading a large
// image. Here up to 128 blocks of each of 16 sizes (up to 264 usable bytes)
// wait for the next request of the thread that freed them. The blocks are
// glibc's throughout: one that waits here is one that glibc counts as in
// use, and every block goes back through glibc's free or stays to the
// process's end (the blocks a thread keeps when it ends).
//
// glibc's own calloc bypasses the caches, and once a second thread exists,
// as it does while the listing is made, takes the arena's lock for every
// block: small blocks come from malloc here and are cleared. Large blocks
// still go to glibc's calloc, which knows when fresh pages need no clearing.
//
// Built into the program only (not into the sanitizer and fuzz builds,
// whose runtimes bring their own allocator and catch a block freed twice,
// which glibc's cache would also catch and this one does not), and
// compiled without the compiler's built-in malloc and memset, which would
// turn the calloc pair back into a call of calloc.
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#ifdef __GLIBC__

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void __libc_free(void* block);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" std::size_t malloc_usable_size(void* block) noexcept;

namespace {

// glibc's small blocks have 24, 40, 56, ... usable bytes: one size class
// each, from 24 up.
constexpr std::size_t kSmallest = 24;
constexpr std::size_t kStep = 16;
constexpr std::size_t kClasses = 16;
constexpr std::size_t kLargest = kSmallest + kStep * (kClasses - 1);
constexpr unsigned kDepth = 128;

struct Cache {
    void* blocks[kClasses][kDepth];
    unsigned count[kClasses];
};
// Zero at the start of every thread and never destroyed: usable by the
// C library's own calls before main and at a thread's end.
thread_local Cache cache;

}  // namespace

extern "C" void* malloc(std::size_t size) noexcept {
    if (size <= kLargest) {
        // The smallest class whose blocks hold `size` bytes.
        const std::size_t k = size <= kSmallest ? 0 : (size - kSmallest + kStep - 1) / kStep;
        Cache& c = cache;
        if (c.count[k] != 0) return c.blocks[k][--c.count[k]];
    }
    return __libc_malloc(size);
}

extern "C" void free(void* block) noexcept {
    if (block == nullptr) return;
    const std::size_t usable = malloc_usable_size(block);
    if (usable >= kSmallest && usable <= kLargest) {
        // The largest class whose requests the block holds.
        const std::size_t k = (usable - kSmallest) / kStep;
        Cache& c = cache;
        if (c.count[k] < kDepth) {
            c.blocks[k][c.count[k]++] = block;
            return;
        }
    }
    __libc_free(block);
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
    constexpr std::size_t kLargestCleared = 16 * 1024;
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, size, &bytes)) {
        errno = ENOMEM;
        return nullptr;
    }
    if (bytes > kLargestCleared) return __libc_calloc(count, size);
    void* block = malloc(bytes);
    if (block != nullptr) std::memset(block, 0, bytes);
    return block;
}

#endif
