// calloc for this program on glibc: small blocks come from malloc, whose
// per-thread cache serves them, and are cleared here.
//
// glibc's own calloc bypasses that cache, and once a second thread exists,
// as it does while the listing is made, takes the arena's lock for every
// block. libdwarf asks calloc for every DIE, attribute list and attribute
// it hands out, which made glibc's calloc about a tenth of reading a large
// image. Defined in the program, this one serves libdwarf, libelf and the
// C++ runtime alike; what it hands out is freed by glibc's free as before.
// Large blocks still go to glibc's calloc, which knows when fresh pages
// need no clearing.
//
// Built into the program only (not into the sanitizer and fuzz builds,
// whose runtimes bring their own calloc), and compiled without the
// compiler's built-in malloc and memset, which would turn the pair back
// into a call of calloc.
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#ifdef __GLIBC__

extern "C" void* __libc_calloc(std::size_t count, std::size_t size);

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
    constexpr std::size_t kLargest = 16 * 1024;
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, size, &bytes)) {
        errno = ENOMEM;
        return nullptr;
    }
    if (bytes > kLargest) return __libc_calloc(count, size);
    void* block = std::malloc(bytes);
    if (block != nullptr) std::memset(block, 0, bytes);
    return block;
}

#endif
