// The messages printed for failed libdwarf calls: which answers they are for
// and which values land in which conversion.
#include <gtest/gtest.h>

#include "dwarf/dwarf_access.h"

namespace kestab::dw {
namespace {

std::string printed(const Report& report, const Answer& answer) {
    testing::internal::CaptureStderr();
    report.print(answer);
    return testing::internal::GetCapturedStderr();
}

TEST(Report, PrintsTheNamedValuesOnlyForTheAnswersItIsFor) {
    const Answer error{DW_DLV_ERROR, 42, "bad form"};
    const Answer noEntry{DW_DLV_NO_ENTRY, 0, ""};
    const Answer ok{};
    struct Case {
        const char* what;
        Report report;
        Answer answer;
        const char* expected;
    };
    const Case cases[] = {
        {"code and error number by default", onError("a (%ld) (%ld)"), error, "a (1) (42)"},
        {"an error message keeps quiet on no entry", onError("a (%ld) (%ld)"), noEntry, ""},
        {"a not-ok message speaks on no entry", unlessOk("b (%ld) (%ld)"), noEntry, "b (-1) (0)"},
        {"no message on ok", unlessOk("b (%ld) (%ld)"), ok, ""},
        {"text before a number", onError("c: %s (%ld)", kErrorText, kErrorNumber), error, "c: bad form (42)"},
        {"the code as int", onError("d (%d)....", kCode), error, "d (1)...."},
        {"int code, long number", unlessOk("e (%d) err=(%ld)"), noEntry, "e (-1) err=(0)"},
        {"an escaped percent", onError("f 100%% (%d)", kCode), error, "f 100% (1)"},
        {"the silent report", Report(), error, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(printed(c.report, c.answer), c.expected) << c.what;
}

}  // namespace
}  // namespace kestab::dw
