#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "dwarf/dwarf_access.h"
#include "dwarf/section_guard.h"
#include "tables/text_format.h"

namespace kestab {

namespace {

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

}  // namespace

DebugReader::DebugReader() : handles_(std::make_unique<Handles>()) {}

DebugReader::~DebugReader() = default;

bool DebugReader::open(int fd, std::string* held) {
    say(held, "First pass...\n");
    if (elf_version(EV_CURRENT) == EV_NONE) {
        say(held, "ElfLib library out of date. Wrong version.\n");
        return false;
    }
    handles_->elf = dw::ElfHandle(elf_begin(fd, ELF_C_READ, nullptr));
    if (!handles_->elf) {
        say(held, "ELF begin error, input_file=%d\n", fd);
        return false;
    }
    if (elf_kind(handles_->elf.get()) != ELF_K_ELF) {
        say(held, "This file has not ELF format.\n");
        return false;
    }
    if (debugFormatMarker(handles_->elf.get()) < 3) {
        say(held, "This is not DWARF2 or DWARF3 format. Program doesn't support any other formats.\n");
        return false;
    }
    const std::string damaged = dw::damagedLibdwarfSection(handles_->elf.get());
    if (!damaged.empty()) {
        say(held, "Damaged debugging information in section %s.\n", damaged.c_str());
        return false;
    }
    Dwarf_Debug dbg = nullptr;
    const dw::Answer answer = dw::ask(nullptr, [&](Dwarf_Error* err) {
        return dw::initReader(handles_->elf.get(), fd, &dbg, err);
    });
    if (answer.ok()) {
        handles_->dbg = dw::DebugHandle(dbg);
        return true;
    }
    if (answer.noEntry()) {
        say(held, "No DWARF information present.\n");
    } else {
        say(held, "dwarf_elf_init failed. Function return: %d. Description: %s", answer.code,
                    answer.errorText.c_str());
    }
    return false;
}

std::string DebugReader::close() {
    const int code = handles_->dbg.reset();
    handles_->elf.reset();
    if (code != DW_DLV_OK) return "dwarf_finish failed. Function return: " + std::to_string(code);
    return {};
}

}  // namespace kestab
