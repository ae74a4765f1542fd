#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "dwarf/reader_handles.h"
#include "elf/image_open.h"
#include "tables/text_format.h"

#ifdef KESTAB_HAVE_LIBELF
#include "elf/section_guard.h"
#else
#include "elf/image_checks.h"
#endif

namespace kestab {

namespace {

using elf::ImageCheck;
using elf::Refusal;

#ifdef KESTAB_HAVE_LIBELF
ImageCheck checkImage(int fd, DebugReader::Handles& handles, elf::BeforeSectionsAreRead beforeReading) {
    return elf::checkImage(fd, handles.elf, beforeReading);
}
Elf* elfOf(DebugReader::Handles& handles) { return handles.elf.get(); }
#else
ImageCheck checkImage(int fd, DebugReader::Handles& handles, elf::BeforeSectionsAreRead) {
    ImageCheck check = elf::checkImage(fd);
    handles.image = check.image;
    return check;
}
Elf* elfOf(DebugReader::Handles&) { return nullptr; }
#endif

// Prints on standard output, or appends the text to `held` when given.
void say(std::string* held, const char* format, ...) __attribute__((format(printf, 2, 3)));
void say(std::string* held, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (held == nullptr) {
        std::vprintf(format, args);
    } else {
        held->append(vformatText(format, args));
    }
    va_end(args);
}

void sayRefusal(std::string* held, const ImageCheck& check, int fd) {
    switch (check.refusal) {
        case Refusal::libraryVersion:
            say(held, "ElfLib library out of date. Wrong version.\n");
            break;
        case Refusal::begin:
            say(held, "ELF begin error, input_file=%d\n", fd);
            break;
        case Refusal::notElf:
            say(held, "This file has not ELF format.\n");
            break;
        case Refusal::notDwarf:
            say(held, "This is not DWARF2 or DWARF3 format. Program doesn't support any other formats.\n");
            break;
        case Refusal::damaged:
            say(held, "Damaged debugging information in section %s.\n", check.damagedSection.c_str());
            break;
        case Refusal::none:
            break;
    }
}

}  // namespace

bool DebugReader::Handles::debugSection(std::string_view name, std::vector<unsigned char>& contents,
                                        bool& bigEndian) const {
#ifdef KESTAB_HAVE_LIBELF
    return elf::debugSectionContents(elf.get(), name, contents, bigEndian);
#else
    return image && elf::debugSectionContents(*image, name, contents, bigEndian);
#endif
}

DebugReader::DebugReader() : handles_(std::make_unique<Handles>()) {}

DebugReader::~DebugReader() = default;

bool DebugReader::open(int fd, std::string* held, elf::BeforeSectionsAreRead beforeReading) {
    say(held, "First pass...\n");
    const ImageCheck check = checkImage(fd, *handles_, beforeReading);
    if (check.refusal != Refusal::none) {
        sayRefusal(held, check, fd);
        return false;
    }
    handles_->sectionAtZero = check.sectionAtZero;
    handles_->debugBytes = check.debugBytes;
    // Every object libdwarf hands out is released by its owner here, so its
    // own record of them, kept to free what callers forget, is pure cost:
    // about a fifth of the run on large images.
    dwarf_set_de_alloc_flag(0);
    Dwarf_Debug dbg = nullptr;
    const dw::Answer answer =
        dw::ask(nullptr, [&](Dwarf_Error* err) { return dw::initReader(elfOf(*handles_), fd, &dbg, err); });
    if (answer.ok()) {
        handles_->dbg = dw::DebugHandle(dbg);
        return true;
    }
    if (answer.noEntry()) {
        say(held, "No DWARF information present.\n");
    } else {
        say(held, "dwarf_elf_init failed. Function return: %d. Description: %s", answer.code, answer.errorText.c_str());
    }
    return false;
}

std::uint64_t DebugReader::debugSectionBytes() const { return handles_->debugBytes; }

std::string DebugReader::close() {
    const int code = handles_->dbg.reset();
#ifdef KESTAB_HAVE_LIBELF
    handles_->elf.reset();
#else
    handles_->image.reset();
#endif
    if (code != DW_DLV_OK) return "dwarf_finish failed. Function return: " + std::to_string(code);
    return {};
}

}  // namespace kestab
