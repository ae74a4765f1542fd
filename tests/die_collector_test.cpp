// The DIE walk over a whole image: every unit it walks, link-time units
// (walked last) among them, is followed by the pause the run uses.
#include "symbols/die_collector.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "support/fixture_reader.h"
#include "tables/map_model.h"

namespace kestab {
namespace {

int pauses = 0;
void countPause() { ++pauses; }

TEST(DieCollector, PausesAfterEveryUnitLinkTimeUnitsToo) {
    // Four units from the sources and one link-time unit.
    test::FixtureReader image("gcc/sensor-lto.tmp");
    ASSERT_TRUE(image.opened()) << image.said();
    MapModel model;
    pauses = 0;
    const CollectOptions options{"", [](std::string_view, std::string_view) { return false; }, countPause};
    EXPECT_TRUE(collectCompilationUnits(image.reader(), model, options));
    EXPECT_EQ(pauses, 5);
}

}  // namespace
}  // namespace kestab
