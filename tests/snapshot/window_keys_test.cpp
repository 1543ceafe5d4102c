// The window's own keys, pressed for real on a virtual X server with a window
// manager: save states, pause and frame advance, rewind, fast-forward,
// reload, fullscreen; and the last save when the window or the display goes
// away from outside.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "assembler.h"
#include "process.h"
#include "virtual_screen.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

namespace {

// How long a window manager or a window may take to come, even on a slow and
// busy host: one limit, after which the test says what did not come.
constexpr auto READY_LIMIT = 60s;

// Counts frames on the test port: out[0x80] <- frame number, from 1.
constexpr const char* COUNTER = R"(
.vector 0, frame
.start
        LD    r0, 0
        EI
.loop:  JMP   .loop
frame:  INC   r0
        OUT   0x80, r0
        LDW   p8, 0xE000
        ST    [p8], r0
        RETI
)";
constexpr const char* OTHER = R"(
.start
        LD    r0, 0x77
        OUT   0x80, r0
.loop:  JMP   .loop
)";

std::vector<unsigned char> assemble(const char* source) {
    Assembly a = Assembler_assemble_text("keys.asm", source);
    EXPECT_TRUE(Assembly_ok(a));
    return {a.image.begin(), a.image.end()};
}

struct WindowKeys : testing::Test {
    VirtualScreen screen;
    ChildProcess wm;
    ChildProcess lumacor;
    TempDir dir;
    std::string rom = dir.file("game.rom");
    std::string window;

    void SetUp() override {
        std::string error;
        // 1100 x 800: four times the picture fits, with a border left over.
        ASSERT_TRUE(VirtualScreen_start(&screen, &error, "1100x800x24")) << error;
        ASSERT_FALSE(std::string(OPENBOX_PATH).empty())
            << "openbox was not found (scripts/deps.sh installs it)";
        ProcessOptions on_screen;
        on_screen.env = {{"DISPLAY", screen.display}};
        // The window must be managed from the start for fullscreen to work,
        // and one mapped while the window manager is still starting may never
        // be shown: openbox runs its startup command once it manages windows.
        const std::string ready = dir.file("wm-ready");
        ASSERT_TRUE(Process_start(&wm, {OPENBOX_PATH, "--startup", "touch " + ready}, on_screen));
        ASSERT_TRUE(wait_for(
            wm, [&] { return access(ready.c_str(), F_OK) == 0; }, READY_LIMIT))
            << "the window manager (openbox) did not report ready within 60 s: " << wm.err;
        write_bytes(rom, assemble(COUNTER));
        const char* asan = std::getenv("ASAN_OPTIONS");
        on_screen.env.insert({{"SDL_AUDIODRIVER", "dummy"},
                              {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}});
        ASSERT_TRUE(Process_start(&lumacor, {LUMACOR_PATH, rom}, on_screen));
        ASSERT_TRUE(wait_for([&] { return test_port_values(lumacor.out).size() >= 5; }, READY_LIMIT))
            << "lumacor's window did not show: no frames within 60 s\n"
            << lumacor.out << lumacor.err;
        ASSERT_TRUE(wait_for(
            [&] {
                window = xdotool({"search", "--name", "^lumacor"});
                window = window.substr(0, window.find('\n'));
                return !window.empty();
            },
            READY_LIMIT))
            << "no window named lumacor within 60 s";
        xdotool({"windowfocus", "--sync", window});
    }
    void TearDown() override {
        if (lumacor.pid > 0) {
            Process_signal(&lumacor, SIGTERM);
            Process_wait(&lumacor, 10s);
        }
        if (wm.pid > 0) {
            Process_signal(&wm, SIGTERM);
            Process_wait(&wm, 10s);
        }
        VirtualScreen_stop(&screen);
    }

    std::string xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), XDOTOOL_PATH);
        std::string out = VirtualScreen_run(&screen, args).out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    template <typename Done>
    bool wait_for(Done done, std::chrono::milliseconds limit = 30s) {
        return wait_for(lumacor, done, limit);
    }
    // Polls `done`, reading the child's output all the while so that its pipe
    // never fills.
    template <typename Done>
    static bool wait_for(ChildProcess& child, Done done, std::chrono::milliseconds limit) {
        for (auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(10ms)) {
            Process_poll_output(&child);
            if (done()) return true;
        }
        return false;
    }
    // The last count printed before `text`, and the first one after it.
    std::pair<int, int> counts_around(const std::string& text) {
        size_t at = lumacor.out.find(text);
        std::vector<int> before = test_port_values(lumacor.out.substr(0, at));
        std::vector<int> after = test_port_values(lumacor.out.substr(at));
        return {before.empty() ? -1 : before.back(), after.empty() ? -1 : after.front()};
    }
    bool printed(const std::string& text) {
        return wait_for([&] { return (lumacor.out + lumacor.err).find(text) != std::string::npos; });
    }
    size_t frames_during(std::chrono::milliseconds span) {
        Process_poll_output(&lumacor);
        size_t before = test_port_values(lumacor.out).size();
        std::this_thread::sleep_for(span);
        Process_poll_output(&lumacor);
        return test_port_values(lumacor.out).size() - before;
    }
    // Frames a second at the normal pace on this host as it is now, by the
    // test's clock: what rewinding and fast-forwarding are compared with, so
    // a slow or busy host moves both sides alike.
    double normal_pace() {
        Process_poll_output(&lumacor);
        size_t before = test_port_values(lumacor.out).size();
        auto from = Clock::now();
        wait_for([] { return false; }, 1s);
        return static_cast<double>(test_port_values(lumacor.out).size() - before) /
               Seconds(Clock::now() - from).count();
    }
};

TEST_F(WindowKeys, StatesPauseAdvanceRewindAndFastForward) {
    const std::string saved = "State saved to " + rom + ".state1\n";
    xdotool({"key", "shift+F1"});
    ASSERT_TRUE(printed(saved));

    // Keys take effect when the loop next polls, so each check first waits
    // for the key to be seen.
    xdotool({"key", "p"});
    EXPECT_TRUE(wait_for([&] { return xdotool({"getwindowname", window}) == "lumacor (paused)"; }));
    EXPECT_TRUE(wait_for([&] { return frames_during(200ms) == 0; }));
    EXPECT_EQ(frames_during(300ms), 0u) << "paused";
    size_t paused_at = test_port_values(lumacor.out).size();
    xdotool({"key", "n"});
    EXPECT_TRUE(wait_for([&] { return test_port_values(lumacor.out).size() > paused_at; }));
    EXPECT_EQ(frames_during(300ms), 0u);
    EXPECT_EQ(test_port_values(lumacor.out).size(), paused_at + 1) << "N runs one frame";
    xdotool({"key", "p"});
    EXPECT_TRUE(wait_for([&] { return xdotool({"getwindowname", window}) == "lumacor"; }));
    EXPECT_TRUE(wait_for([&] { return frames_during(200ms) > 3; }));

    const std::string loaded = "State loaded from " + rom + ".state1\n";
    xdotool({"key", "F1"});
    ASSERT_TRUE(printed(loaded));
    ASSERT_TRUE(wait_for([&] { return counts_around(loaded).second != -1; }));
    EXPECT_EQ(counts_around(loaded).second, counts_around(saved).first + 1) << "runs on from the saved frame";

    xdotool({"key", "F2"});
    EXPECT_TRUE(printed("Could not load state " + rom + ".state2: No such file or directory\n"));

    double pace = normal_pace();
    ASSERT_GT(pace, 0.0) << "runs at the normal pace";
    // A stretch of eight frames at the pace measured (at least 300 ms) with no
    // frame is rewinding, not a busy host's hiccup.
    auto quiet = std::max(300ms, std::chrono::milliseconds(static_cast<int64_t>(8000 / pace)));
    auto pressed = Clock::now();
    xdotool({"keydown", "grave"});
    EXPECT_TRUE(wait_for([&] { return frames_during(quiet) == 0; }, READY_LIMIT))
        << "rewinding stops the frames";
    EXPECT_EQ(frames_during(quiet), 0u) << "nothing runs while rewinding";
    int last_played = test_port_values(lumacor.out).back();
    size_t release_from = lumacor.out.size();
    xdotool({"keyup", "grave"});
    double held = Seconds(Clock::now() - pressed).count();
    ASSERT_TRUE(wait_for([&] { return !test_port_values(lumacor.out.substr(release_from)).empty(); }));
    // The first frame after the release follows the one rewound to.
    int stepped_back = last_played - (test_port_values(lumacor.out.substr(release_from)).front() - 1);
    EXPECT_GT(stepped_back, 0) << "played backwards";
    // One frame back per display refresh: no more than the full normal pace
    // (62.5 a second; a slow host only steps back fewer) runs while the key
    // was held, from before the press to after the release.
    EXPECT_LE(stepped_back, held * 62.5 * 1.1 + 5) << "as fast as they were played, not faster";

    // How many frames fast-forward runs a refresh is checked on a clock the
    // test controls (FrameLoop); here, that the held key keeps frames coming
    // and that nothing is made up after it.
    pace = normal_pace();
    xdotool({"keydown", "Tab"});
    EXPECT_TRUE(wait_for([&] { return frames_during(100ms) > 0; })) << "frames run while Tab is held";
    // Hurried for a few seconds more: if the schedule were not started again
    // afterwards, the frames it fell behind would be made up at full speed.
    wait_for([] { return false; }, 3s);
    xdotool({"keyup", "Tab"});
    Process_poll_output(&lumacor);
    size_t released_at = test_port_values(lumacor.out).size();
    auto released = Clock::now();
    wait_for([] { return false; }, 1500ms);
    double stretch = Seconds(Clock::now() - released).count();
    size_t since = test_port_values(lumacor.out).size() - released_at;
    EXPECT_GT(since, 0u) << "runs on after the release";
    // The rest of the last hurried refresh may still come (at most its 16 ms
    // of frames), then the normal pace again.
    EXPECT_LT(static_cast<double>(since), pace * stretch * 1.25 + 100) << "no catching up after the hurry";
}

TEST_F(WindowKeys, ReloadAndFullscreen) {
    write_bytes(rom, assemble(OTHER));
    xdotool({"key", "F5"});
    ASSERT_TRUE(printed("Reloaded " + rom + "\n"));
    ASSERT_TRUE(wait_for([&] { return counts_around("Reloaded").second != -1; }));
    EXPECT_EQ(counts_around("Reloaded").second, 0x77) << "the new program, from its start";
    unlink(rom.c_str());
    xdotool({"key", "F5"});
    EXPECT_TRUE(
        printed("Could not reload " + rom + ": No such file or directory; the running cartridge stays\n"));

    std::string placed = xdotool({"getwindowgeometry", window});
    xdotool({"key", "F11"});
    EXPECT_TRUE(wait_for([&] {
        return xdotool({"getwindowgeometry", window}).find("1100x800") != std::string::npos;
    }));
    // Four times 256 x 192, centred: black around it.
    EXPECT_TRUE(wait_for([&] {
        return VirtualScreen_capture(&screen, 0, 0, 38, 16) == std::vector<uint8_t>(38 * 16 * 3, 0);
    }));
    xdotool({"key", "F11"});
    EXPECT_TRUE(wait_for([&] { return xdotool({"getwindowgeometry", window}) == placed; }));
}

TEST_F(WindowKeys, SaveIsWrittenWhenTheWindowOrTheDisplayGoesAway) {
    xdotool({"windowclose", window});
    ProcessResult closed = Process_wait(&lumacor, 20s);
    EXPECT_EQ(closed.exit_code, 0);
    EXPECT_NE(closed.out.find("The window was destroyed; closing\nWriting save to " + rom + ".sav\n"),
              std::string::npos);
    EXPECT_NE(read_bytes(rom + ".sav").at(0), 0);

    unlink((rom + ".sav").c_str());
    ProcessOptions on_screen;
    on_screen.env = {
        {"DISPLAY", screen.display}, {"SDL_AUDIODRIVER", "dummy"}, {"ASAN_OPTIONS", "detect_leaks=0"}};
    ASSERT_TRUE(Process_start(&lumacor, {LUMACOR_PATH, rom}, on_screen));
    ASSERT_TRUE(wait_for([&] { return test_port_values(lumacor.out).size() >= 5; }));
    VirtualScreen_stop(&screen);
    ProcessResult lost = Process_wait(&lumacor, 20s);
    EXPECT_EQ(lost.exit_code, 1);
    EXPECT_EQ(lost.err,
              "lumacor: lost the connection to the display\nlumacor: save written to " + rom + ".sav\n");
    EXPECT_NE(read_bytes(rom + ".sav").at(0), 0);
}

} // namespace
