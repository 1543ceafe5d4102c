// The save file holds the last save RAM however a run ends: killed outright
// (only the periodic save can have written it), interrupted or terminated by
// a signal or by closing the window after periodic writes (the exit write
// still brings the file up to the last frame). Halts and illegal opcodes are
// covered with the other run endings in tests/e2e_machine.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "robustness_util.h"

namespace {

constexpr size_t COUNTER = 0x10; // save_loop counts frames in this save RAM byte

bool holds_signature(const std::vector<unsigned char>& save) {
    return save.size() == 4096 && std::string(save.begin(), save.begin() + 5) == "SAVED";
}

TEST(SaveSafety, KilledWhileRunningTheSaveFileHoldsTheSaveRam) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    std::string save = rom + ".sav";
    copy_test_rom("save_loop", rom);
    ChildProcess child;
    ASSERT_TRUE(Process_start(&child, {LUMACOR_BIN, rom}, dummy_drivers()));

    // Written about a second after the change at the latest; the deadline
    // leaves room for a loaded machine and a sanitizer build.
    ASSERT_TRUE(wait_until([&] { return holds_signature(read_bytes(save)); }, 15s))
        << "the save RAM never reached the file while running";
    // The frame counter goes on changing, and the file follows it.
    unsigned char first = read_bytes(save).at(COUNTER);
    EXPECT_TRUE(wait_until(
        [&] {
            std::vector<unsigned char> now = read_bytes(save);
            return now.size() == 4096 && now[COUNTER] != first;
        },
        15s));

    Process_signal(&child, SIGKILL);
    ProcessResult result = Process_wait(&child, 10s);
    EXPECT_EQ(result.signal, SIGKILL);
    EXPECT_EQ(result.out.find("Writing save"), std::string::npos) << "killed before any exit write";
    EXPECT_TRUE(holds_signature(read_bytes(save)));
}

class SignalEnding : public testing::TestWithParam<int> {};

TEST_P(SignalEnding, ExitsNormallyWithTheLastSaveRamWritten) {
    TempDir dir;
    std::string rom = dir.file("game.rom");
    copy_test_rom("save_loop", rom);
    ChildProcess child;
    ASSERT_TRUE(Process_start(&child, {LUMACOR_BIN, rom}, dummy_drivers()));
    ASSERT_TRUE(wait_until([&] { return holds_signature(read_bytes(rom + ".sav")); }, 15s));

    Process_signal(&child, GetParam());
    ProcessResult result = Process_wait(&child, 20s);
    ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("Writing save to " + rom + ".sav\n"), std::string::npos);
    // The counter the program last reported is what the file holds.
    std::vector<int> reported = test_port_values(result.out);
    ASSERT_FALSE(reported.empty());
    std::vector<unsigned char> saved = read_bytes(rom + ".sav");
    ASSERT_TRUE(holds_signature(saved));
    EXPECT_EQ(saved[COUNTER], reported.back());
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalEnding, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGINT ? "Interrupt" : "Terminate");
                         });

TEST(SaveSafety, ClosingTheWindowExitsNormallyWithTheLastSaveRamWritten) {
    XServer x;
    if (x.display.empty()) GTEST_SKIP() << x.error;
    TempDir dir;
    std::string rom = dir.file("game.rom");
    copy_test_rom("save_loop", rom);
    ProcessOptions options;
    options.env = {{"DISPLAY", x.display}, {"SDL_AUDIODRIVER", "dummy"}};
    // In the sanitizer build, the X and GL drivers' own allocations that live
    // until exit would count as leaks; scripts/valgrind.sh checks a window run
    // for leaks with those suppressed.
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":detect_leaks=0";
    ChildProcess child;
    ASSERT_TRUE(Process_start(&child, {LUMACOR_BIN, rom}, options));
    ASSERT_TRUE(wait_until([&] { return holds_signature(read_bytes(rom + ".sav")); }, 15s));

    ProcessOptions close_options;
    close_options.env = {{"DISPLAY", x.display}};
    ProcessResult close = Process_run({CLOSE_WINDOW_BIN, "lumacor", "30"}, close_options);
    EXPECT_EQ(close.exit_code, 0) << close.err;
    ProcessResult result = Process_wait(&child, 30s);
    ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    std::vector<int> reported = test_port_values(result.out);
    ASSERT_FALSE(reported.empty());
    std::vector<unsigned char> saved = read_bytes(rom + ".sav");
    ASSERT_TRUE(holds_signature(saved));
    EXPECT_EQ(saved[COUNTER], reported.back());
}

} // namespace
