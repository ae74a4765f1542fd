// The ELF reader must answer exactly as libelf does on every image the tests
// hold, sound or damaged, and on damaged copies made here: cut short, header
// fields overwritten, bytes of the ELF and section headers changed.
// Without libelf (the Windows build) the known answers of the fixtures
// below still hold, and every image is read without a fault.
#include "elf/elf_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "elf/image_checks.h"

#ifdef KESTAB_HAVE_LIBELF
#include <fcntl.h>
#include <gelf.h>
#include <unistd.h>

#include "elf/image_open.h"
#include "elf/section_guard.h"
#endif

namespace kestab::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

struct Case {
    std::string name;
    Bytes bytes;
};

std::string digest(const unsigned char* data, std::size_t size) {
    std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001b3u;
    char text[40];
    std::snprintf(text, sizeof text, "%zu:%016llx", size, static_cast<unsigned long long>(hash));
    return text;
}

// Everything the reading passes ask of an image, as one comparable text.
struct Answers {
    int kind = 0;  // 0 none, 1 archive, 2 ELF
    bool header32 = false;
    std::vector<std::string> sections;  // per section from 1: type, name, raw contents
    int marker = 0;
    std::string damaged;
    bool atZero = false;  // an allocated section at address 0
    std::string locationLists;  // .debug_loclists as read for the lists libdwarf refuses

    std::string text() const {
        std::string out = "kind " + std::to_string(kind) + " header32 " + std::to_string(header32) + " marker " +
                          std::to_string(marker) + " damaged '" + damaged + "' at zero " + std::to_string(atZero) +
                          " loclists " + locationLists + "\n";
        for (const std::string& s : sections) out += "  " + s + "\n";
        return out;
    }
};

// What a debugSectionContents call gave.
std::string sectionRead(bool read, const Bytes& contents, bool bigEndian) {
    return read ? digest(contents.data(), contents.size()) + (bigEndian ? " big" : " little") : "<none>";
}

std::string sectionLine(std::uint32_t type, const char* name, const std::string& raw) {
    return std::to_string(type) + " " + (name != nullptr ? "'" + std::string(name) + "'" : "<unreadable>") + " " + raw;
}

Answers readerAnswers(const Bytes& bytes) {
    const elf::ElfImage image(bytes);
    Answers a;
    a.kind = image.kind() == elf::Kind::Elf ? 2 : image.kind() == elf::Kind::Archive ? 1 : 0;
    a.header32 = image.has32BitHeader();
    for (std::uint32_t i = 1; i < image.sectionCount(); ++i) {
        const elf::Section s = *image.section(i);
        const auto name = image.sectionName(s);
        const auto raw = image.rawContents(s);
        a.sections.push_back(sectionLine(s.type, name ? std::string(*name).c_str() : nullptr,
                                         raw ? digest(raw->data(), raw->size()) : "<unreadable>"));
    }
    a.marker = elf::debugFormatMarker(image);
    if (a.header32) a.damaged = elf::damagedLibdwarfSection(image);
    if (a.header32) a.atZero = elf::allocatedSectionAtZero(image);
    Bytes contents;
    bool bigEndian = false;
    a.locationLists = sectionRead(elf::debugSectionContents(image, ".debug_loclists", contents, bigEndian), contents,
                                  bigEndian);
    return a;
}

#ifdef KESTAB_HAVE_LIBELF
void libelfSections(Elf* elf, Answers& a) {
    const Elf32_Ehdr* header = elf32_getehdr(elf);
    if (header == nullptr) return;
    Elf_Scn* section = nullptr;
    while ((section = elf_nextscn(elf, section)) != nullptr) {
        const Elf32_Shdr* sh = elf32_getshdr(section);
        if (sh == nullptr) {
            a.sections.push_back("<no header>");
            continue;
        }
        const char* name = elf_strptr(elf, header->e_shstrndx, sh->sh_name);
        const Elf_Data* data = elf_rawdata(section, nullptr);
        std::string raw = "<unreadable>";
        if (data != nullptr && (data->d_buf != nullptr || data->d_size == 0))
            raw = digest(static_cast<const unsigned char*>(data->d_buf), data->d_size);
        a.sections.push_back(sectionLine(sh->sh_type, name, raw));
    }
}

Answers libelfAnswers(const Bytes& bytes) {
    const fs::path file = fs::temp_directory_path() / ("kestab-elf-" + std::to_string(::getpid()) + ".tmp");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    Answers a;
    const int fd = ::open(file.c_str(), O_RDONLY);
    elf_version(EV_CURRENT);
    Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
    if (elf == nullptr) {
        a.kind = -1;  // the reader has no such answer: any case here fails
    } else {
        a.kind = elf_kind(elf) == ELF_K_ELF ? 2 : elf_kind(elf) == ELF_K_AR ? 1 : 0;
        a.header32 = a.kind == 2 && elf32_getehdr(elf) != nullptr;
        if (a.kind == 2) libelfSections(elf, a);
        a.marker = elf::debugFormatMarker(elf);
        if (a.header32) a.damaged = elf::damagedLibdwarfSection(elf);
        if (a.header32) a.atZero = elf::allocatedSectionAtZero(elf);
        Bytes contents;
        bool bigEndian = false;
        a.locationLists = sectionRead(elf::debugSectionContents(elf, ".debug_loclists", contents, bigEndian),
                                      contents, bigEndian);
        elf_end(elf);
    }
    ::close(fd);
    fs::remove(file);
    return a;
}
#endif

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Case> fixtureCases() {
    std::vector<Case> cases;
    for (const fs::path& root : {fs::path(KESTAB_FIXTURE_DIR), fs::path(KESTAB_SOURCE_DIR) / "tests/fuzz/regressions"})
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file() && entry.path().extension() == ".tmp")
                cases.push_back(
                    {fs::relative(entry.path(), root.parent_path()).generic_string(), readBytes(entry.path())});
    std::sort(cases.begin(), cases.end(), [](const Case& x, const Case& y) { return x.name < y.name; });
    return cases;
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4 && at + i < b.size(); ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Damaged copies of one little-endian 32-bit image.
void addMutants(const Case& base, std::vector<Case>& out) {
    const Bytes& b = base.bytes;
    const std::uint32_t shoff = get32(b, 32);
    const std::uint32_t shnum = b[48] | b[49] << 8;
    const std::uint32_t tableEnd = shoff + 40 * shnum;
    const auto add = [&](const std::string& what, Bytes bytes) {
        out.push_back({base.name + " " + what, std::move(bytes)});
    };
    for (const std::size_t cut :
         {0u, 7u, 8u, 15u, 16u, 51u, 52u, 63u, 64u, shoff, shoff + 39, shoff + 40, tableEnd - 1})
        add("cut at " + std::to_string(cut), Bytes(b.begin(), b.begin() + std::min<std::size_t>(cut, b.size())));
    const std::vector<std::pair<std::size_t, std::vector<std::uint32_t>>> fields = {
        {4, {0, 2, 3}},
        {5, {0, 2, 3}},
        {6, {0, 2}},  // class, byte order, version
        {32, {0, 52, static_cast<std::uint32_t>(b.size()), static_cast<std::uint32_t>(b.size()) - 39, 0xffffffffu}},
        {48, {0, 1, shnum + 1, 0xffff}},
        {50, {0, 1, shnum - 1, shnum, 0xffff}}};
    for (const auto& [at, values] : fields)
        for (const std::uint32_t v : values) {
            Bytes m = b;
            if (at < 8)
                m[at] = static_cast<unsigned char>(v);
            else if (at == 32)
                put32(m, at, v);
            else
                put16(m, at, static_cast<std::uint16_t>(v));
            add("field " + std::to_string(at) + "=" + std::to_string(v), std::move(m));
        }
    for (const std::uint32_t type : {2u, 8u}) {  // every section but the string tables a symbol table, then empty
        Bytes m = b;
        for (std::uint32_t at = shoff + 40; at < tableEnd; at += 40)
            if (get32(m, at + 4) != 3) put32(m, at + 4, type);
        add("types " + std::to_string(type), std::move(m));
    }
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int n = 0; n < 150; ++n) {
        Bytes m = b;
        for (int flips = 1 + next() % 3; flips > 0; --flips) {
            const std::uint32_t region = next() % 4;
            const std::size_t at = region == 0 ? next() % 52 : shoff + next() % (tableEnd - shoff);
            m[at] = static_cast<unsigned char>(region == 3 ? m[at] ^ (1u << (next() % 8)) : next());
        }
        add("flips #" + std::to_string(n), std::move(m));
    }
}

std::vector<Case> allCases() {
    std::vector<Case> cases = fixtureCases();
    const std::size_t fixtures = cases.size();
    for (std::size_t i = 0; i < fixtures; ++i)
        if (cases[i].name.find("misc/small.tmp") != std::string::npos ||
            cases[i].name.find("rnglists-") != std::string::npos)
            addMutants(Case(cases[i]), cases);  // a copy: `cases` grows
    return cases;
}

const Answers* findAnswers(const std::vector<std::pair<std::string, Answers>>& all, const std::string& suffix) {
    for (const auto& [name, a] : all)
        if (name.ends_with(suffix)) return &a;
    return nullptr;
}

TEST(ElfImage, AnswersAsLibelfOnEveryImage) {
    const std::vector<Case> cases = allCases();
    std::vector<std::pair<std::string, Answers>> answers;
    for (const Case& c : cases) {
        answers.emplace_back(c.name, readerAnswers(c.bytes));
#ifdef KESTAB_HAVE_LIBELF
        EXPECT_EQ(answers.back().second.text(), libelfAnswers(c.bytes).text()) << c.name;
#endif
    }
    // Known answers, which also hold where libelf is not there to ask.
    const struct {
        const char* image;
        int kind;
        bool header32;
        int marker;
        const char* damaged;
    } known[] = {
        {"misc/text.tmp", 0, false, 0, ""},
        {"misc/archive.tmp", 1, false, 0, ""},
        {"misc/elf64.tmp", 2, false, 0, ""},
        {"misc/asd.tmp", 2, true, 1, ""},
        {"misc/dual.tmp", 2, true, 2, ""},
        {"misc/nodebug.tmp", 2, true, 0, ""},
        {"misc/badshstr.tmp", 2, true, 0, ""},
        {"misc/small.tmp", 2, true, 3, ""},
        {"gcc/multi.tmp", 2, true, 3, ""},
        {"rnglists-two-good-units.tmp", 2, true, 3, ""},
        {"rnglists-bad-length.tmp", 2, true, 3, ".debug_rnglists"},
        {"rnglists-compressed-bad-header.tmp", 2, true, 3, ".debug_rnglists"},
        {"rnglists-zdebug-bad-header.tmp", 2, true, 3, ".zdebug_rnglists"},
    };
    for (const auto& k : known) {
        const Answers* a = findAnswers(answers, k.image);
        ASSERT_NE(a, nullptr) << k.image;
        EXPECT_EQ(a->kind, k.kind) << k.image;
        EXPECT_EQ(a->header32, k.header32) << k.image;
        EXPECT_EQ(a->marker, k.marker) << k.image;
        EXPECT_EQ(a->damaged, k.damaged) << k.image;
    }
}

}  // namespace
}  // namespace kestab::test
