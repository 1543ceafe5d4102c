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

namespace {

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

// The values the program has sent to the test port so far.
std::vector<int> counts(const std::string& out) {
    std::vector<int> values;
    for (size_t at = out.find("out[0x80] <- 0x"); at != std::string::npos;
         at = out.find("out[0x80] <- 0x", at + 1))
        values.push_back(static_cast<int>(std::strtol(out.c_str() + at + 15, nullptr, 16)));
    return values;
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
        ASSERT_TRUE(Process_start(&wm, {OPENBOX_PATH}, on_screen));
        // The window must be managed from the start for fullscreen to work.
        ASSERT_TRUE(wait_for([&] {
            return VirtualScreen_run(&screen, {XPROP_PATH, "-root", "_NET_SUPPORTING_WM_CHECK"})
                       .out.find("window id") != std::string::npos;
        }));
        write_bytes(rom, assemble(COUNTER));
        const char* asan = std::getenv("ASAN_OPTIONS");
        on_screen.env.insert({{"SDL_AUDIODRIVER", "dummy"},
                              {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}});
        // A window mapped while the window manager is still starting may
        // never be shown, and SDL then waits for it for good: start again.
        for (int attempt = 0; attempt < 3 && counts(lumacor.out).size() < 5; ++attempt) {
            if (lumacor.pid > 0) {
                Process_signal(&lumacor, SIGKILL);
                Process_wait(&lumacor, 10s);
                lumacor.pid = -1;
                lumacor.out.clear();
                lumacor.err.clear();
            }
            ASSERT_TRUE(Process_start(&lumacor, {LUMACOR_PATH, rom}, on_screen));
            wait_for([&] { return counts(lumacor.out).size() >= 5; }, 10s);
        }
        ASSERT_GE(counts(lumacor.out).size(), 5u) << lumacor.out << lumacor.err;
        window = xdotool({"search", "--sync", "--name", "^lumacor"});
        window = window.substr(0, window.find('\n'));
        ASSERT_FALSE(window.empty());
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
        for (auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(10ms)) {
            Process_poll_output(&lumacor);
            if (done()) return true;
        }
        return false;
    }
    // The last count printed before `text`, and the first one after it.
    std::pair<int, int> counts_around(const std::string& text) {
        size_t at = lumacor.out.find(text);
        std::vector<int> before = counts(lumacor.out.substr(0, at));
        std::vector<int> after = counts(lumacor.out.substr(at));
        return {before.empty() ? -1 : before.back(), after.empty() ? -1 : after.front()};
    }
    bool printed(const std::string& text) {
        return wait_for([&] { return (lumacor.out + lumacor.err).find(text) != std::string::npos; });
    }
    size_t frames_during(std::chrono::milliseconds span) {
        Process_poll_output(&lumacor);
        size_t before = counts(lumacor.out).size();
        std::this_thread::sleep_for(span);
        Process_poll_output(&lumacor);
        return counts(lumacor.out).size() - before;
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
    size_t paused_at = counts(lumacor.out).size();
    xdotool({"key", "n"});
    EXPECT_TRUE(wait_for([&] { return counts(lumacor.out).size() > paused_at; }));
    EXPECT_EQ(frames_during(300ms), 0u);
    EXPECT_EQ(counts(lumacor.out).size(), paused_at + 1) << "N runs one frame";
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

    wait_for([] { return false; }, 1s);
    int before_rewind = counts(lumacor.out).back();
    size_t rewind_from = lumacor.out.size();
    xdotool({"keydown", "grave"});
    EXPECT_TRUE(wait_for([&] { return frames_during(100ms) == 0; }, 2s));
    EXPECT_EQ(frames_during(300ms), 0u) << "nothing runs while rewinding";
    xdotool({"keyup", "grave"});
    std::this_thread::sleep_for(300ms);
    Process_poll_output(&lumacor);
    std::vector<int> after = counts(lumacor.out.substr(rewind_from));
    ASSERT_FALSE(after.empty());
    int resumed = *std::min_element(after.begin(), after.end());
    EXPECT_LT(resumed, before_rewind - 5) << "played backwards";
    EXPECT_GT(resumed, before_rewind - 60) << "about half a second back, at the normal pace";

    xdotool({"keydown", "Tab"});
    EXPECT_GT(frames_during(500ms), 62u) << "as fast as the host allows: at least twice the normal pace";
    wait_for([] { return false; }, 3500ms); // reading all the while, so the pipe never fills
    xdotool({"keyup", "Tab"});
    Process_poll_output(&lumacor);
    size_t released_at = counts(lumacor.out).size();
    // Four seconds of hurrying are not made up afterwards at full speed (250
    // frames more): after the release come the rest of the last hurried
    // refresh (at most about a hundred frames) and then 62.5 frames a second.
    wait_for([] { return false; }, 1500ms);
    size_t since = counts(lumacor.out).size() - released_at;
    EXPECT_GT(since, 50u);
    EXPECT_LT(since, 280u) << "no catching up after the hurry";
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
    ASSERT_TRUE(wait_for([&] { return counts(lumacor.out).size() >= 5; }));
    VirtualScreen_stop(&screen);
    ProcessResult lost = Process_wait(&lumacor, 20s);
    EXPECT_EQ(lost.exit_code, 1);
    EXPECT_EQ(lost.err,
              "lumacor: lost the connection to the display\nlumacor: save written to " + rom + ".sav\n");
    EXPECT_NE(read_bytes(rom + ".sav").at(0), 0);
}

} // namespace
