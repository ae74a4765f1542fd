#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "dwarf/dwarf_access.h"
#include "tables/text_format.h"

#ifdef KESTAB_HAVE_LIBELF
#include "dwarf/removed_code.h"
#include "dwarf/section_guard.h"
#else
#include "dwarf/elf_image.h"
#include "dwarf/image_checks.h"
#include "platform/process_setup.h"
#endif

namespace kestab {

namespace {

// Why an image is refused before libdwarf is opened on it.
enum class Refusal { none, libraryVersion, begin, notElf, notDwarf, damaged };

struct ImageCheck {
    ImageCheck(Refusal r = Refusal::none, std::string section = {}) : refusal(r), damagedSection(std::move(section)) {}
    Refusal refusal;
    std::string damagedSection;
};

#ifdef KESTAB_HAVE_LIBELF

// The first section whose name is exactly `name`, or null. A section whose
// name cannot be read ends the search.
Elf_Scn* findSectionByName(Elf* elf, const char* name) {
    const Elf32_Ehdr* header = elf32_getehdr(elf);
    if (header == nullptr) return nullptr;
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(elf, section)) != nullptr) {
        const Elf32_Shdr* sectionHeader = elf32_getshdr(section);
        if (sectionHeader == nullptr) return nullptr;
        if (sectionHeader->sh_type == SHT_NULL) continue;
        const char* sectionName = elf_strptr(elf, header->e_shstrndx, sectionHeader->sh_name);
        if (sectionName == nullptr) return nullptr;
        if (std::strcmp(sectionName, name) == 0) return section;
    }
    return nullptr;
}

// 1 for ".asd", 2 for ".debug", 3 for ".debug_info", 0 for none: the first
// name found decides.
int debugFormatMarker(Elf* elf) {
    if (findSectionByName(elf, ".asd") != nullptr) return 1;
    if (findSectionByName(elf, ".debug") != nullptr) return 2;
    if (findSectionByName(elf, ".debug_info") != nullptr) return 3;
    return 0;
}

// The checks through libelf; the libelf handle stays in `handles` for
// libdwarf 20210528, which reads through it.
ImageCheck checkImage(int fd, DebugReader::Handles& handles) {
    if (elf_version(EV_CURRENT) == EV_NONE) return {Refusal::libraryVersion};
    handles.elf = dw::ElfHandle(elf_begin(fd, ELF_C_READ, nullptr));
    if (!handles.elf) return {Refusal::begin};
    if (elf_kind(handles.elf.get()) != ELF_K_ELF) return {Refusal::notElf};
    if (debugFormatMarker(handles.elf.get()) < 3) return {Refusal::notDwarf};
    std::string damaged = dw::damagedLibdwarfSection(handles.elf.get());
    if (!damaged.empty()) return {Refusal::damaged, std::move(damaged)};
    handles.sectionAtZero = dw::allocatedSectionAtZero(handles.elf.get());
    return {};
}

Elf* elfOf(DebugReader::Handles& handles) { return handles.elf.get(); }

#else

// The same checks through the ELF reader, with the same answers.
ImageCheck checkImage(int fd, DebugReader::Handles& handles) {
    std::vector<unsigned char> bytes;
    if (!platform::readWholeFile(fd, bytes)) return {Refusal::begin};
    const elf::ElfImage image(std::move(bytes));
    if (image.kind() != elf::Kind::Elf) return {Refusal::notElf};
    if (dw::debugFormatMarker(image) < 3) return {Refusal::notDwarf};
    std::string damaged = dw::damagedRangeListSection(image);
    if (!damaged.empty()) return {Refusal::damaged, std::move(damaged)};
    handles.sectionAtZero = dw::allocatedSectionAtZero(image);
    return {};
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

DebugReader::DebugReader() : handles_(std::make_unique<Handles>()) {}

DebugReader::~DebugReader() = default;

bool DebugReader::open(int fd, std::string* held) {
    say(held, "First pass...\n");
    const ImageCheck check = checkImage(fd, *handles_);
    if (check.refusal != Refusal::none) {
        sayRefusal(held, check, fd);
        return false;
    }
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

std::string DebugReader::close() {
    const int code = handles_->dbg.reset();
#ifdef KESTAB_HAVE_LIBELF
    handles_->elf.reset();
#endif
    if (code != DW_DLV_OK) return "dwarf_finish failed. Function return: " + std::to_string(code);
    return {};
}

}  // namespace kestab
