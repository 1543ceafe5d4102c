// The window program's two clocks, on injected milliseconds: frames paced on
// an absolute 16 ms schedule, and save RAM written at most once a second.
#include <gtest/gtest.h>

#include "main/autosave.h"
#include "main/pacing.h"

namespace {

TEST(FramePacer, SleepsToAnAbsoluteScheduleAndMakesUpLateFrames) {
    FramePacer pacer;
    FramePacer_start(&pacer, 1000, 60);
    // now, then the sleep to the next deadline (1016, 1032, ...)
    const int64_t frames[][2] = {{1005, 11}, {1017, 15}, {1070, 0}, {1071, 0},
                                 {1076, 4},  {1100, 0},  {1105, 7}};
    for (auto [now, sleep] : frames) EXPECT_EQ(FramePacer_next(&pacer, now), sleep) << now;
    FramePacer_start(&pacer, 0, 50);
    EXPECT_EQ(FramePacer_next(&pacer, 0), 20);
}

TEST(SaveSchedule, WritesTheFirstChangeAtOnceThenOnceASecondAndReportsAFailureOnce) {
    SaveSchedule s;
    SaveSchedule_start(&s, 5000, 7);
    EXPECT_FALSE(SaveSchedule_due(&s, 5000, 7)) << "nothing changed";
    ASSERT_TRUE(SaveSchedule_due(&s, 5000, 8));
    EXPECT_FALSE(SaveSchedule_done(&s, 5000, 8, true));
    EXPECT_FALSE(SaveSchedule_due(&s, 5999, 9));
    ASSERT_TRUE(SaveSchedule_due(&s, 6000, 9));
    EXPECT_TRUE(SaveSchedule_done(&s, 6000, 9, false)) << "the first failure is reported";
    ASSERT_TRUE(SaveSchedule_due(&s, 7000, 9)) << "and tried again a second later";
    EXPECT_FALSE(SaveSchedule_done(&s, 7000, 9, false)) << "the same failure is not reported twice";
    ASSERT_TRUE(SaveSchedule_due(&s, 8000, 9));
    EXPECT_FALSE(SaveSchedule_done(&s, 8000, 9, true));
    EXPECT_FALSE(SaveSchedule_due(&s, 60000, 9)) << "written, nothing new";
    ASSERT_TRUE(SaveSchedule_due(&s, 60000, 10));
    EXPECT_TRUE(SaveSchedule_done(&s, 60000, 10, false)) << "a new failure after a success";
}

} // namespace
