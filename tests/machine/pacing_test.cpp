// The frame pacer's arithmetic against an injected millisecond clock: the
// absolute 16 ms schedule, overrunning frames, and catching up after a stall.
#include <gtest/gtest.h>

#include "main/pacing.h"

namespace {

TEST(FramePacer, SixtyHertzGivesSixteenMilliseconds) {
    FramePacer pacer;
    FramePacer_start(&pacer, 1000, 60);
    EXPECT_EQ(pacer.refresh_ms, 16);
    EXPECT_EQ(pacer.deadline, 1000);
}

TEST(FramePacer, SleepsToTheAbsoluteDeadline) {
    FramePacer pacer;
    FramePacer_start(&pacer, 0, 60);
    EXPECT_EQ(FramePacer_next(&pacer, 5), 11);  // deadline 16
    EXPECT_EQ(FramePacer_next(&pacer, 17), 15); // deadline 32: a late wake-up is made up
    EXPECT_EQ(FramePacer_next(&pacer, 48), 0);  // deadline 48 reached exactly
    EXPECT_EQ(pacer.deadline, 48);
}

TEST(FramePacer, OverrunIsCaughtUpWithoutResettingTheSchedule) {
    FramePacer pacer;
    FramePacer_start(&pacer, 0, 60);
    EXPECT_EQ(FramePacer_next(&pacer, 40), 0); // frame 1 overran to 40 ms (deadline 16)
    EXPECT_EQ(FramePacer_next(&pacer, 42), 0); // deadline 32, still behind
    EXPECT_EQ(FramePacer_next(&pacer, 44), 4); // deadline 48: back on the schedule
    EXPECT_EQ(pacer.deadline, 48);
}

TEST(FramePacer, AfterAOneSecondStallAbout62FramesRunBackToBack) {
    // Simulated clock: the frame's work takes no time, the sleep is taken in
    // full, and the process is stalled for a second during frame 10.
    FramePacer pacer;
    int64_t now = 0;
    FramePacer_start(&pacer, now, 60);
    int unslept_after_stall = 0;
    bool resumed = false;
    for (int frame = 1; frame <= 200; ++frame) {
        if (frame == 10) now += 1000;
        int64_t sleep = FramePacer_next(&pacer, now);
        if (frame >= 10 && !resumed) {
            if (sleep == 0)
                ++unslept_after_stall;
            else
                resumed = true;
        }
        EXPECT_EQ(pacer.deadline, 16 * frame); // never reset, never skips
        now += sleep;
    }
    EXPECT_TRUE(resumed);
    EXPECT_EQ(unslept_after_stall, 62); // 1000 ms / 16 ms
    EXPECT_EQ(now, 200 * 16); // back on the schedule afterwards
}

TEST(FramePacer, OtherRefreshRatesUseIntegerDivision) {
    FramePacer pacer;
    FramePacer_start(&pacer, 0, 50);
    EXPECT_EQ(pacer.refresh_ms, 20);
    FramePacer_start(&pacer, 0, 1001);
    EXPECT_EQ(pacer.refresh_ms, 0);
    FramePacer_start(&pacer, 0, 7);
    EXPECT_EQ(pacer.refresh_ms, 142);
}

} // namespace
