// A move-only owner of a handle that stands on its own (the ELF handle, the
// libdwarf reader), and the owner of the libelf handle of the input image.
#pragma once

#include <utility>

#ifdef KESTAB_HAVE_LIBELF
#include <libelf.h>
#endif

namespace kestab {

// Ends its handle through `End`, whose return code `reset()` hands back.
template <class T, int (*End)(T)>
class Handle {
public:
    Handle() = default;
    explicit Handle(T value) : value_(value) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : value_(std::exchange(other.value_, T{})) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, T{});
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    T get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }
    // Ends the handle now; the end function's return code, 0 when empty.
    int reset() { return value_ != T{} ? End(std::exchange(value_, T{})) : 0; }

private:
    T value_{};
};

namespace elf {
#ifdef KESTAB_HAVE_LIBELF
inline int endElf(Elf* elf) { return elf_end(elf); }
using ElfHandle = Handle<Elf*, endElf>;
#endif
}  // namespace elf

}  // namespace kestab
