// The server's log limit: a line that repeats is written a few times, then
// held back and summed up once a minute; other lines are not held back
// with it, and a flood of distinct lines cannot grow its memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log.h"

using twincam::serve::LogLimit;

namespace {

TEST(LogLimit, ARepeatedLineIsWrittenAFewTimesThenSummedUpOnceAMinute) {
    LogLimit limit;
    const LogLimit::Clock::time_point t0{};
    // Ten lines a second for three minutes, the log flushed every second as the server does.
    int written = 0;
    long summed = 0;
    std::vector<LogLimit::Clock::time_point> summaries;
    for (int tenth = 0; tenth < 1800; ++tenth) {
        const auto now = t0 + std::chrono::milliseconds(100 * tenth);
        written += limit.Admit("spin %d", "spin " + std::to_string(tenth), now) ? 1 : 0;
        if (tenth % 10 != 9) continue;
        for (const auto &[last, held] : limit.Flush(now, false)) {
            EXPECT_EQ(last, "spin " + std::to_string(tenth));
            summed += held;
            summaries.push_back(now);
        }
    }
    EXPECT_TRUE(limit.Admit("other", "other", t0)) << "another kind of line is not held back with it";
    EXPECT_EQ(written, LogLimit::kBurst) << "no new burst while it keeps coming";
    ASSERT_EQ(summaries.size(), 2u) << "one a minute";
    EXPECT_EQ(summaries[1] - summaries[0], LogLimit::kWindow);
    for (const auto &said : limit.Flush(t0 + std::chrono::minutes(3), true)) summed += said.second;
    EXPECT_EQ(summed, 1800 - LogLimit::kBurst);
    EXPECT_EQ(limit.suppressed(), 1800 - LogLimit::kBurst);
    // Quiet for a whole minute: written again.
    EXPECT_TRUE(limit.Admit("spin %d", "spin", t0 + std::chrono::minutes(4)));
}

TEST(LogLimit, AtExitEverythingHeldBackIsSaid) {
    LogLimit limit;
    const LogLimit::Clock::time_point t0{};
    for (int n = 0; n < LogLimit::kBurst + 2; ++n) limit.Admit("a", "a", t0);
    EXPECT_EQ(limit.Flush(t0, true).size(), 1u);
    EXPECT_TRUE(limit.Flush(t0, true).empty()) << "said once";
}

TEST(LogLimit, DistinctLinesWithoutEndKeepEveryKindWrittenOnce) {
    LogLimit limit;
    const LogLimit::Clock::time_point t0{};
    for (int n = 0; n < 100000; ++n) {
        const std::string line = "critical at 0x" + std::to_string(n);
        ASSERT_TRUE(limit.Admit(line, line, t0)) << n;
    }
    EXPECT_EQ(limit.suppressed(), 0);
}

}  // namespace
