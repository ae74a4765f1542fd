// The DIE walk over a whole image: every unit it walks, link-time units
// (walked last) among them, is followed by the pause the run uses.
#include "symbols/die_collector.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "dwarf/debug_reader.h"
#include "support/test_support.h"
#include "tables/map_model.h"

namespace kestab {
namespace {

int pauses = 0;
void countPause() { ++pauses; }

TEST(DieCollector, PausesAfterEveryUnitLinkTimeUnitsToo) {
    // Four units from the sources and one link-time unit.
    const int fd = ::open(test::fixturePath("gcc/sensor-lto.tmp").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    {
        DebugReader reader;
        std::string held;
        ASSERT_TRUE(reader.open(fd, &held)) << held;
        MapModel model;
        pauses = 0;
        const CollectOptions options{"", [](std::string_view, std::string_view) { return false; }, countPause};
        EXPECT_TRUE(collectCompilationUnits(reader, model, options));
        EXPECT_EQ(pauses, 5);
    }
    ::close(fd);
}

}  // namespace
}  // namespace kestab
