#include "tools/check_report.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

TEST(CheckReportTest, ProblemsFirstGroupedByProblemThenFile) {
    StationReport report;
    report.playlist = "p.plo";
    report.findings = {
        {Severity::kWarning, "line ignored", "p.plo", "w1"},
        {Severity::kError, "truncated frame", "b.nsv", "e1"},
        {Severity::kError, "entry cannot be opened", "c.nsv", "e2"},
        {Severity::kError, "truncated frame", "a.nsv", "e3"},
        {Severity::kError, "truncated frame", "b.nsv", "e4"},
        {Severity::kWarning, "line ignored", "p.plo", "w2\x01"},
    };
    const std::string text = format_check_text(report, false);
    EXPECT_EQ(text.substr(0, text.find("Station:")),
              "Errors (4):\n"
              "  truncated frame:\n"
              "    b.nsv: e1\n"
              "    b.nsv: e4\n"
              "    a.nsv: e3\n"
              "  entry cannot be opened:\n"
              "    c.nsv: e2\n"
              "\n"
              "Warnings (2):\n"
              "  line ignored:\n"
              "    p.plo: w1\n"
              "    p.plo: w2\\x01\n"
              "\n");
    EXPECT_EQ(text.substr(text.rfind("Summary:")),
              "Summary: 0 media files, 0 playable; 4 errors, 2 warnings: needs fixing.\n");
    EXPECT_EQ(check_status(report, false), 1);
}

TEST(CheckReportTest, ClockTime) {
    EXPECT_EQ(clock_time(0), "0:00");
    EXPECT_EQ(clock_time(59.6), "1:00");
    EXPECT_EQ(clock_time(179.98), "3:00");
    EXPECT_EQ(clock_time(3599.4), "59:59");
    EXPECT_EQ(clock_time(3600), "1:00:00");
    EXPECT_EQ(clock_time(90061), "25:01:01");
}

}  // namespace
}  // namespace tarnel::test
