// A run on an image beyond every capacity of the classic fixed tables (130
// units, 6,000 symbols, some 5,900 type rows, 2,340 dimension values, far
// more than 65,504 bytes of names, names of up to 4,000 characters) must
// write every file, symbol and dimension. The image comes from
// tests/fixtures/gen/make-large.sh; each symbol's name tells what its S line
// must show, and the manifest gives the totals, so the checks need no
// expected MAP file.
#include <gtest/gtest.h>

#include <charconv>
#include <set>
#include <sstream>

#include "support/test_support.h"

namespace kestab::test {
namespace {

struct Manifest {
    std::uint32_t symbols = 0;
    std::uint32_t arrays = 0;
    std::uint32_t dimensions = 0;
    std::multiset<std::size_t> longNames;
    std::vector<std::string> units;
};

Manifest readManifest() {
    Manifest m;
    std::istringstream in(readFile(fixturePath("gen/large.manifest")));
    std::string key;
    std::string value;
    while (in >> key >> value) {
        if (key == "symbols") m.symbols = static_cast<std::uint32_t>(std::stoul(value));
        if (key == "arrays") m.arrays = static_cast<std::uint32_t>(std::stoul(value));
        if (key == "dimensions") m.dimensions = static_cast<std::uint32_t>(std::stoul(value));
        if (key == "longname") m.longNames.insert(std::stoul(value));
        if (key == "unit") m.units.push_back(value);
    }
    return m;
}

std::uint32_t number(std::string_view text, int base = 10) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) ADD_FAILURE() << "not a number: " << text;
    return value;
}

// What a generated name says its S line must show.
struct NameFacts {
    std::uint32_t file = 0;  // unit + 1
    std::uint32_t flags = 0;
    std::vector<std::uint32_t> dims;
    std::size_t padding = 0;  // where the filler of a long name starts, or 0
};

// u<unit>_<kind><n>_t<T>[_d<a>x<b>...][_<filler>]
NameFacts parseName(const std::string& name) {
    NameFacts facts;
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size() && parts.size() < 4; ++i) {
        if (i == name.size() || name[i] == '_') {
            parts.push_back(name.substr(start, i - start));
            start = i + 1;
        }
    }
    if (parts.size() < 3 || parts[0].size() != 4 || parts[0][0] != 'u' || parts[2][0] != 't') {
        ADD_FAILURE() << "not a generated name: " << name.substr(0, 80);
        return facts;
    }
    facts.file = number(parts[0].substr(1)) + 1;
    facts.flags = number(parts[2].substr(1), 16);
    std::size_t used = parts[0].size() + parts[1].size() + parts[2].size() + 2;
    if (parts.size() == 4 && !parts[3].empty() && parts[3][0] == 'd' && parts[3].size() > 1 &&
        parts[3][1] >= '0' && parts[3][1] <= '9') {
        std::string_view dims(parts[3]);
        dims.remove_prefix(1);
        while (!dims.empty()) {
            const auto x = dims.find('x');
            facts.dims.push_back(number(dims.substr(0, x)));
            dims = x == std::string_view::npos ? std::string_view() : dims.substr(x + 1);
        }
        used += parts[3].size() + 1;
    }
    if (used < name.size()) facts.padding = used + 1;  // past the filler's '_'
    return facts;
}

// The filler of a long name: a-z and 0-9 over and over, after the '_'.
bool fillerIsWhole(const std::string& name, std::size_t from) {
    static constexpr std::string_view kCycle = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (std::size_t i = from; i < name.size(); ++i)
        if (name[i] != kCycle[(i - from) % kCycle.size()]) return false;
    return true;
}

TEST(Capacity, LargeImageWritesEveryFileSymbolAndDimension) {
    const Manifest manifest = readManifest();
    ASSERT_EQ(manifest.units.size(), 130u);

    TempDir root;
    const fs::path run = root / "run";
    fs::create_directories(run);
    fs::copy_file(fixturePath("gen/large.tmp"), run / "large.tmp");
    // Only the existence of a unit's source counts: stand-ins will do.
    for (const std::string& unit : manifest.units) {
        fs::create_directories((run / unit).parent_path());
        writeFile(run / unit, "");
    }
    makeToolkit(root / "toolkit");
    const auto env = isolatedEnv(writeToolkitRegistry(root / "kestab.reg", (root / "toolkit").string()), root / "wine");

    const ProcessResult r = runKestab({"large"}, run, env);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");

    const std::vector<std::string> lines = splitCrLf(readFile(run / "large.MAP"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "# VORNEX ASCII Map file, Version:1.1.");
    EXPECT_EQ(lines.back(), "# End of file.");

    // File lines: the listing and every unit, with the full file number.
    std::size_t at = 1;
    const auto fileLine = [](std::uint32_t i, const std::string& path) {
        std::string text = "File " + std::to_string(i);
        if (i < 10) text += ' ';
        return text + " : " + path;
    };
    ASSERT_LT(at, lines.size());
    EXPECT_EQ(lines[at++], fileLine(0, "large.lst"));
    for (std::uint32_t i = 1; i <= manifest.units.size(); ++i, ++at) {
        ASSERT_LT(at, lines.size());
        EXPECT_EQ(lines[at], fileLine(i, "./" + manifest.units[i - 1]));
    }

    // S lines: numbered without gaps, each as its name says.
    std::uint32_t symbols = 0;
    std::uint32_t arrays = 0;
    std::uint32_t dimensionValues = 0;
    std::multiset<std::size_t> longNames;
    std::set<std::string> names;
    std::set<std::uint32_t> highFiles;
    for (; at < lines.size() && lines[at].starts_with("S"); ++at, ++symbols) {
        const std::string& line = lines[at];
        char head[64];
        std::snprintf(head, sizeof head, "S%-4u: F:", symbols);
        ASSERT_TRUE(line.starts_with(head)) << line.substr(0, 120);
        // S<n>: F:<f> T:<t> A:<a> 1:<x> 2:<y> <name>[ Dims: ...]
        std::istringstream fields(line.substr(std::string_view(head).size() - 2));
        std::string f, t, a, one, two, name;
        fields >> f >> t >> a >> one >> two >> name;
        const NameFacts facts = parseName(name);
        EXPECT_EQ(f, "F:" + std::string(facts.file < 100 ? (facts.file < 10 ? "00" : "0") : "") +
                         std::to_string(facts.file))
            << name.substr(0, 80);
        if (facts.file > 127) highFiles.insert(facts.file);
        char flags[16];
        std::snprintf(flags, sizeof flags, "T:%04x", facts.flags);
        EXPECT_EQ(t, flags) << name.substr(0, 80);
        std::string rest;
        std::getline(fields, rest);
        if ((facts.flags & 0x0008) != 0) {
            ++arrays;
            dimensionValues += 1 + static_cast<std::uint32_t>(facts.dims.size());
            char count[16];
            std::snprintf(count, sizeof count, "2:%04zx", facts.dims.size());
            EXPECT_EQ(two, count) << name.substr(0, 80);
            std::string expected = " Dims:";
            for (const auto d : facts.dims) expected += " " + std::to_string(d);
            EXPECT_EQ(rest, expected) << name.substr(0, 80);
        } else {
            EXPECT_EQ(rest, "") << name.substr(0, 80);
        }
        if (name.size() > 255) {
            longNames.insert(name.size());
            EXPECT_NE(facts.padding, 0u) << name.substr(0, 80);
            EXPECT_TRUE(fillerIsWhole(name, facts.padding)) << name.substr(0, 80);
        }
        EXPECT_TRUE(names.insert(name).second) << "twice: " << name.substr(0, 80);
    }
    EXPECT_EQ(symbols, manifest.symbols);
    EXPECT_EQ(arrays, manifest.arrays);
    EXPECT_EQ(dimensionValues, manifest.dimensions);
    EXPECT_EQ(longNames, manifest.longNames);
    EXPECT_EQ(highFiles, (std::set<std::uint32_t>{128, 129, 130}));

    // @ lines: first the line tables' (source files), then the listing's.
    std::uint32_t sourceEntries = 0;
    std::uint32_t listingEntries = 0;
    for (; at + 1 < lines.size(); ++at) {
        const std::string& line = lines[at];
        ASSERT_TRUE(line.starts_with("@")) << line;
        const auto f = line.find(": F:");
        ASSERT_NE(f, std::string::npos) << line;
        const std::uint32_t file = number(std::string_view(line).substr(f + 4, line.find(' ', f + 4) - f - 4));
        if (file == 0) {
            ++listingEntries;
        } else {
            EXPECT_EQ(listingEntries, 0u) << "source entry after the listing's: " << line;
            EXPECT_LE(file, manifest.units.size()) << line;
            ++sourceEntries;
        }
    }
    EXPECT_GT(sourceEntries, manifest.symbols / 2);
    EXPECT_GT(listingEntries, sourceEntries);

    EXPECT_EQ(r.out, "ELF Map file generator, version 1.01\nFirst pass...\n" +
                         std::to_string(manifest.units.size() + 1) + " files, " + std::to_string(manifest.symbols) +
                         " symbols, " + std::to_string(manifest.dimensions) + " dimensions, " +
                         std::to_string(sourceEntries) + " address entries\n");
}

}  // namespace
}  // namespace kestab::test
