// The plumbing under the reading passes: the helper that runs a libdwarf call
// and sorts its three answers, the messages printed for failed calls, and the
// owners of libdwarf handles. Only the reading passes include this
// header.
#pragma once

#include <dwarf.h>
#include <libdwarf.h>
#ifdef KESTAB_HAVE_LIBELF
#include <libelf.h>
#endif

#include <array>
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "dwarf/libdwarf_compat.h"
#include "elf/handle.h"

namespace kestab::dw {

// What a libdwarf call answered. An error's number and text are copied out
// and the error descriptor itself is released at once.
struct Answer {
    int code = DW_DLV_OK;
    long errorNumber = 0;
    std::string errorText;

    bool ok() const { return code == DW_DLV_OK; }
    bool noEntry() const { return code == DW_DLV_NO_ENTRY; }
    // Anything but ok and no entry counts as an error.
    bool error() const { return !ok() && !noEntry(); }
};

// Which answers a message is printed for.
enum class When : std::uint8_t { never, error, notOk };

// What a message shows of an answer, in the order of its format's
// conversions: the return code, the number of the error, its text.
enum class Shown : std::uint8_t { code, number, text };
inline constexpr Shown kCode = Shown::code;
inline constexpr Shown kErrorNumber = Shown::number;
inline constexpr Shown kErrorText = Shown::text;

namespace detail {
// Called only while a message format is checked at compile time: a call
// here means the format's conversions do not fit what the message shows.
void messageFormatDoesNotFitItsValues();
}  // namespace detail

// The message printed on standard error when a libdwarf call answers in a
// given way; the default one prints nothing. The format is checked at compile
// time: each value shown takes one conversion, "%d" or "%ld" for the code and
// the error number, "%s" for the error text.
class Report {
public:
    constexpr Report() = default;
    consteval Report(When when, const char* format, std::initializer_list<Shown> shown) : when_(when), format_(format) {
        std::size_t scan = 0;
        for (const Shown value : shown) {
            const Conversion conversion = nextConversion(format, scan);
            const bool fits = conversion == Conversion::asText ? value == Shown::text
                                                               : conversion != Conversion::none && value != Shown::text;
            if (!fits || count_ == args_.size()) detail::messageFormatDoesNotFitItsValues();
            args_[count_++] = Arg{value, conversion};
        }
        if (nextConversion(format, scan) != Conversion::none) detail::messageFormatDoesNotFitItsValues();
    }

    // Prints the message for `answer` when it is one the message is for
    // (checked here, inline: nearly every answer is one it is not for).
    void print(const Answer& answer) const {
        if (when_ == When::error ? answer.error() : when_ == When::notOk && !answer.ok()) printMessage(answer);
    }

private:
    void printMessage(const Answer& answer) const;

    enum class Conversion : std::uint8_t { none, asInt, asLong, asText };
    struct Arg {
        Shown shown = Shown::code;
        Conversion conversion = Conversion::none;
    };

    // The conversion at or after `scan` in `format` ("%%" is none), with
    // `scan` moved past it; none when the format has no conversion left.
    static consteval Conversion nextConversion(const char* format, std::size_t& scan) {
        for (; format[scan] != '\0'; ++scan) {
            if (format[scan] != '%') continue;
            const std::string_view rest(format + scan + 1);
            if (rest.starts_with("%")) {
                ++scan;
                continue;
            }
            Conversion found = Conversion::none;
            if (rest.starts_with("d")) found = Conversion::asInt;
            if (rest.starts_with("ld")) found = Conversion::asLong;
            if (rest.starts_with("s")) found = Conversion::asText;
            if (found == Conversion::none) detail::messageFormatDoesNotFitItsValues();
            scan += found == Conversion::asLong ? 3 : 2;
            return found;
        }
        return Conversion::none;
    }

    When when_ = When::never;
    const char* format_ = nullptr;
    std::array<Arg, 2> args_{};
    std::size_t count_ = 0;
};

// The message for error answers, or for every answer but ok. Without values
// named, it shows the code and the error number ("(%ld) (%ld)").
template <class... S>
    requires(std::same_as<S, Shown> && ...)
consteval Report makeReport(When when, const char* format, S... shown) {
    if constexpr (sizeof...(S) == 0) {
        return Report(when, format, {kCode, kErrorNumber});
    } else {
        return Report(when, format, {shown...});
    }
}
template <class... S>
    requires(std::same_as<S, Shown> && ...)
consteval Report onError(const char* format, S... shown) {
    return makeReport(When::error, format, shown...);
}
template <class... S>
    requires(std::same_as<S, Shown> && ...)
consteval Report unlessOk(const char* format, S... shown) {
    return makeReport(When::notOk, format, shown...);
}

// Runs `call(Dwarf_Error*)` and sorts its answer.
template <class Call>
Answer ask(Dwarf_Debug dbg, Call&& call) {
    Dwarf_Error err = nullptr;
    Answer answer;
    answer.code = call(&err);
    if (answer.code != DW_DLV_OK && answer.code != DW_DLV_NO_ENTRY) {
        if (err != nullptr) {
            answer.errorNumber = static_cast<long>(dwarf_errno(err));
            const char* errorText = dwarf_errmsg(err);
            answer.errorText = errorText != nullptr ? errorText : "";
        }
    }
    if (err != nullptr) dwarf_dealloc_error(dbg, err);
    return answer;
}

// Runs `call(Dwarf_Error*)`, sorts its answer and prints `report` when the
// answer is one it is for.
template <class Call>
Answer ask(Dwarf_Debug dbg, const Report& report, Call&& call) {
    Answer answer = ask(dbg, std::forward<Call>(call));
    report.print(answer);
    return answer;
}

// Whether the image's byte order is big-endian: libdwarf's copy function
// turns the bytes of a value into the host's order.
bool imageBigEndian(Dwarf_Debug dbg);

// Steps the reader's unit iteration to the next unit header. After it has
// answered no entry, the next call starts again at the first unit.
Answer nextUnitHeader(Dwarf_Debug dbg, const Report& report = {});

// A move-only owner of one libdwarf object released through a function.
template <class T, void (*Release)(Dwarf_Debug, T)>
class Owner {
public:
    Owner() = default;
    Owner(Dwarf_Debug dbg, T value) : dbg_(dbg), value_(value) {}
    ~Owner() { reset(); }
    Owner(Owner&& other) noexcept : dbg_(other.dbg_), value_(std::exchange(other.value_, T{})) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) {
            reset();
            dbg_ = other.dbg_;
            value_ = std::exchange(other.value_, T{});
        }
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    T get() const { return value_; }
    Dwarf_Debug debug() const { return dbg_; }
    explicit operator bool() const { return value_ != T{}; }
    void reset() {
        if (value_ != T{}) Release(dbg_, std::exchange(value_, T{}));
    }

private:
    Dwarf_Debug dbg_ = nullptr;
    T value_{};
};

inline void releaseDie(Dwarf_Debug, Dwarf_Die die) { dwarf_dealloc_die(die); }
inline void releaseString(Dwarf_Debug dbg, char* string) { dwarf_dealloc(dbg, string, DW_DLA_STRING); }
inline void releaseLineContext(Dwarf_Debug, Dwarf_Line_Context context) { dwarf_srclines_dealloc_b(context); }
inline void releaseLocHead(Dwarf_Debug, Dwarf_Loc_Head_c head) { deallocLocHead(head); }
inline void releaseBlock(Dwarf_Debug dbg, Dwarf_Block* block) { dwarf_dealloc(dbg, block, DW_DLA_BLOCK); }

using DieOwner = Owner<Dwarf_Die, releaseDie>;
using StringOwner = Owner<char*, releaseString>;
using LineContextOwner = Owner<Dwarf_Line_Context, releaseLineContext>;
using LocHeadOwner = Owner<Dwarf_Loc_Head_c, releaseLocHead>;
using BlockOwner = Owner<Dwarf_Block*, releaseBlock>;

inline int finishDebug(Dwarf_Debug dbg) { return finishReader(dbg); }

using DebugHandle = Handle<Dwarf_Debug, finishDebug>;

// The CIE and FDE lists dwarf_get_fde_list gives, released together.
struct FdeLists {
    Dwarf_Debug dbg = nullptr;
    Dwarf_Cie* cies = nullptr;
    Dwarf_Signed cieCount = 0;
    Dwarf_Fde* fdes = nullptr;
    Dwarf_Signed fdeCount = 0;

    bool operator==(const FdeLists&) const = default;
};
inline int releaseFdeLists(FdeLists lists) {
    deallocFdeLists(lists.dbg, lists.cies, lists.cieCount, lists.fdes, lists.fdeCount);
    return 0;
}

using FdeListHandle = Handle<FdeLists, releaseFdeLists>;

}  // namespace kestab::dw
