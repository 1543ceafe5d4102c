// The frame loop's turns on a clock the test moves, so that what each of the
// window's modes does in one display refresh does not depend on the host's
// speed: the normal pace, fast-forward, rewind, pause and frame advance.
#include <gtest/gtest.h>

#include "../machine/machine.h"
#include "main/run.h"
#include "main/timer.h"

namespace {

int64_t now_ms = 0;
// A millisecond passes each time the loop reads the clock.
int64_t ticking_clock() { return now_ms++; }

struct FrameLoop : testing::Test {
    Machine machine;
    Host host{};
    void SetUp() override {
        machine.program({0x30, 0xA0, 0x00}); // JMP to itself
        Timer_set_clock(ticking_clock);
        History_init(&host.history, 100, 1 << 20);
    }
    void TearDown() override {
        History_free(&host.history);
        Timer_set_clock(nullptr);
    }
    // Frames the machine moved by in one turn of the loop.
    int64_t turn() {
        auto before = static_cast<int64_t>(machine.computer.frame);
        Host_advance(&host, &machine.computer, 16);
        return static_cast<int64_t>(machine.computer.frame) - before;
    }
    void key(SDL_Scancode scancode, bool down) {
        SDL_Event event{};
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.key.keysym.scancode = scancode;
        Host_handle_event(&host, &machine.computer, event);
    }
};

TEST_F(FrameLoop, EachModeRunsItsFramesPerRefreshWhateverTheHostsSpeed) {
    EXPECT_EQ(turn(), 1) << "the normal pace: one frame a refresh";
    EXPECT_EQ(turn(), 1);
    key(SDL_SCANCODE_TAB, true);
    EXPECT_EQ(turn(), 16) << "fast-forward: frames until the refresh's 16 ms are spent";
    key(SDL_SCANCODE_TAB, false);
    EXPECT_EQ(turn(), 1);
    key(SDL_SCANCODE_GRAVE, true);
    for (int back = 0; back < 3; ++back) EXPECT_EQ(turn(), -1) << "rewinding: one frame back a refresh";
    key(SDL_SCANCODE_GRAVE, false);
    EXPECT_EQ(turn(), 1);
    key(SDL_SCANCODE_P, true);
    key(SDL_SCANCODE_P, false);
    EXPECT_EQ(turn(), 0) << "paused";
    key(SDL_SCANCODE_N, true);
    EXPECT_EQ(turn(), 1) << "N runs one frame";
    EXPECT_EQ(turn(), 0);
}

} // namespace
