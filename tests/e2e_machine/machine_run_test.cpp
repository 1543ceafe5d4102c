// The built lumacor program on small test ROMs: its start-up output, exit
// status, test-port and bank lines, the frame schedule, how a run ends (halt,
// return, illegal opcode, SIGINT, SIGTERM) and the save file it leaves.
#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>

#include "computer/computer.h"
#include "process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string LOOP_RUNNING = "Refresh time: 16 ms\n";

ProcessOptions dummy_drivers() {
    ProcessOptions options;
    options.env = {{"SDL_VIDEODRIVER", "dummy"}, {"SDL_AUDIODRIVER", "dummy"}};
    options.timeout = 30s;
    return options;
}

// The built ROM `name`, copied into `dir` so that its save file lands there.
std::string copy_rom(const std::string& name, const TempDir& dir, const std::string& as = "") {
    std::string to = dir.file(as.empty() ? name + ".rom" : as);
    fs::copy_file(std::string(E2E_MACHINE_ROM_DIR) + "/" + name + ".rom", to);
    return to;
}

ProcessResult run_lumacor(const std::vector<std::string>& args) {
    std::vector<std::string> argv{LUMACOR_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return Process_run(argv, dummy_drivers());
}

// What the program prints once the frame loop runs.
std::string after_start_up(const std::string& out) {
    std::size_t at = out.find(LOOP_RUNNING);
    return at == std::string::npos ? "" : out.substr(at + LOOP_RUNNING.size());
}

// Collects the child's output until it holds `text`; false when the child
// ended or the time ran out first.
bool wait_for_output(ChildProcess* child, const std::string& text) {
    auto deadline = Clock::now() + 30s;
    while (child->out.find(text) == std::string::npos) {
        if (Clock::now() > deadline || child->out_fd < 0) return false;
        pollfd fd{child->out_fd, POLLIN, 0};
        poll(&fd, 1, 100);
        Process_poll_output(child);
    }
    return true;
}

// Starts lumacor on `rom`, waits until its frame loop runs, sends `signal`.
ProcessResult run_until_signal(const std::string& rom, int signal) {
    ChildProcess child;
    EXPECT_TRUE(Process_start(&child, {LUMACOR_PATH, rom}, dummy_drivers()));
    EXPECT_TRUE(wait_for_output(&child, LOOP_RUNNING)) << child.out << child.err;
    Process_signal(&child, signal);
    return Process_wait(&child, 30s);
}

void expect_clean_exit(const ProcessResult& result) {
    EXPECT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
}

std::string start_up_lines() {
    return "sizeof Computer: " + std::to_string(sizeof(Computer)) +
           " byte\n"
           "0000-7FFF 1 rom \\(32768\\)\n"
           "8000-9FFF 1 gpu \\(8192\\)\n"
           "A000-DFFF 1 ram \\(16384\\)\n"
           "E000-EFFF 1 storage \\(4096\\)\n"
           "FF00-FF06 1 i/o dma \\(7\\)\n"
           "FF07-FF09 1 i/o apu \\(3\\)\n"
           "FF0A-FF0B 1 i/o controller \\(2\\)\n"
           "FF80-FFFF 1 stack \\(128\\)\n"
           "0080-0080 2 test \\(1\\)\n"
           // The dummy video driver has no accelerated renderer.
           "SDL_CreateRenderer Error: [^\n]+\n";
}

const std::string CLOCK_LINES =
    "CPU clock rate: 1000000 Hz\n"
    "Video refresh rate: 60 Hz\n"
    "CPU cycles per frame: 16666\n"
    "Refresh time: 16 ms\n";

TEST(LumacorStart, PrintsSizeMapAndClockLinesInOrder) {
    TempDir dir;
    std::string rom = copy_rom("halt", dir);
    ProcessResult result = run_lumacor({rom});
    expect_clean_exit(result);
    std::regex expected(start_up_lines() + CLOCK_LINES + "Writing save to " + rom + "\\.sav\n");
    EXPECT_TRUE(std::regex_match(result.out, expected)) << result.out;
    EXPECT_EQ(result.err, "");
}

TEST(LumacorStart, NoArgumentExits255AndPrintsNothing) {
    ProcessResult result = run_lumacor({});
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
}

TEST(LumacorStart, ExtraArgumentsAreIgnored) {
    TempDir dir;
    std::string rom = copy_rom("port", dir);
    std::string other = copy_rom("halt", dir);
    ProcessResult result = run_lumacor({rom, other, "--fast"});
    expect_clean_exit(result);
    EXPECT_NE(result.out.find("out[0x80] <- 0x41\n"), std::string::npos) << result.out;
    EXPECT_TRUE(fs::exists(rom + ".sav"));
    EXPECT_FALSE(fs::exists(other + ".sav"));
}

TEST(LumacorStart, MissingOrDirectoryRomRunsEmptyAndWritesNoSave) {
    TempDir dir;
    fs::create_directory(dir.file("folder.rom"));
    for (const std::string& rom : {dir.file("missing.rom"), dir.file("folder.rom")}) {
        // An empty cartridge reads as NOPs everywhere: the run goes on until
        // it is told to quit.
        ProcessResult result = run_until_signal(rom, SIGTERM);
        expect_clean_exit(result);
        std::regex expected(start_up_lines() + "File could not be opened: " + rom + "\n" + CLOCK_LINES);
        EXPECT_TRUE(std::regex_match(result.out, expected)) << result.out;
        EXPECT_FALSE(fs::exists(rom + ".sav"));
    }
}

TEST(LumacorRun, HaltingAtOnceRunsOneFrame) {
    TempDir dir;
    std::string rom = copy_rom("halt", dir);
    auto started = Clock::now();
    ProcessResult result = run_lumacor({rom});
    auto took = Clock::now() - started;
    expect_clean_exit(result);
    // The one frame still takes its sleep to the 16 ms deadline.
    EXPECT_GE(took, 14ms);
    EXPECT_EQ(after_start_up(result.out), "Writing save to " + rom + ".sav\n");
}

TEST(LumacorRun, ReturnFromTheOutermostLevelStops) {
    TempDir dir;
    std::string rom = copy_rom("ret", dir);
    ProcessResult result = run_lumacor({rom});
    expect_clean_exit(result);
    EXPECT_EQ(after_start_up(result.out), "Writing save to " + rom + ".sav\n");
    EXPECT_EQ(result.err, "");
}

TEST(LumacorRun, FramesFollowTheSixteenMillisecondSchedule) {
    TempDir dir;
    std::string rom = copy_rom("frames", dir);
    auto started = Clock::now();
    ProcessResult result = run_lumacor({rom});
    auto took = Clock::now() - started;
    expect_clean_exit(result);
    // 30 frame interrupts taken, one per frame.
    EXPECT_EQ(after_start_up(result.out), "out[0x80] <- 0x1E\nWriting save to " + rom + ".sav\n");
    EXPECT_GE(took, 30 * 16ms - 16ms);
}

TEST(LumacorRun, EachFrameRuns16666Instructions) {
    TempDir dir;
    std::string rom = copy_rom("budget", dir);
    ProcessResult result = run_lumacor({rom});
    expect_clean_exit(result);
    // 8332 = 0x208C rounds of the loop in the first frame.
    EXPECT_EQ(after_start_up(result.out),
              "out[0x80] <- 0x20\nout[0x80] <- 0x8C\nWriting save to " + rom + ".sav\n");
}

TEST(LumacorRun, DmaCopyCompletesBeforeTheNextInstruction) {
    TempDir dir;
    std::string rom = copy_rom("dma", dir);
    ProcessResult result = run_lumacor({rom});
    expect_clean_exit(result);
    EXPECT_EQ(after_start_up(result.out), "out[0x80] <- 0x69\nWriting save to " + rom + ".sav\n");
}

TEST(LumacorRun, TestPortTraffic) {
    TempDir dir;
    std::string rom = copy_rom("port", dir);
    ProcessResult result = run_lumacor({rom});
    expect_clean_exit(result);
    EXPECT_EQ(after_start_up(result.out),
              "in[0x80] -> 0x0\n"
              "out[0x80] <- 0x41\n"
              "in[0x80] -> 0x41\n"
              "out[0x80] <- 0x42\n"
              "out[0x80] <- 0x0\n"
              "Writing save to " + rom + ".sav\n");
}

TEST(LumacorRun, BankLines) {
    TempDir dir;
    std::string rom = copy_rom("banks", dir);
    ProcessResult result = run_lumacor({rom});
    expect_clean_exit(result);
    EXPECT_EQ(after_start_up(result.out),
              "out[0x80] <- 0xB1\n"
              "Bank switched to: 2\n"
              "out[0x80] <- 0xB2\n"
              "Bank switched to: 3\n"
              "out[0x80] <- 0xB3\n"
              "out[0x80] <- 0xB3\n"
              "Bank switched to: 9\n"
              "out[0x80] <- 0x0\n"
              "Writing save to " + rom + ".sav\n");
}

TEST(LumacorRun, IllegalOpcodeStopsTheRunAndTheSaveIsWritten) {
    TempDir dir;
    std::string rom = copy_rom("illegal", dir);
    ProcessResult result = run_lumacor({rom});
    expect_clean_exit(result);
    EXPECT_EQ(result.err, "Illegal opcode 0x71 at 0x0105\n");
    EXPECT_EQ(after_start_up(result.out), "Writing save to " + rom + ".sav\n");
    std::vector<unsigned char> save = read_bytes(rom + ".sav");
    ASSERT_EQ(save.size(), 4096u);
    EXPECT_EQ(save[0], 0x77);
}

class LumacorSignal : public testing::TestWithParam<int> {};

TEST_P(LumacorSignal, EndsTheRunCleanlyAndWritesTheSave) {
    // A signal ignored here would be ignored by the child too, and SDL only
    // turns signals into its quit event where they have their default action.
    std::signal(GetParam(), SIG_DFL);
    TempDir dir;
    std::string rom = copy_rom("forever", dir);
    ProcessResult result = run_until_signal(rom, GetParam());
    expect_clean_exit(result);
    EXPECT_EQ(after_start_up(result.out), "Writing save to " + rom + ".sav\n");
    std::vector<unsigned char> save = read_bytes(rom + ".sav");
    ASSERT_EQ(save.size(), 4096u);
    EXPECT_EQ(save[0], 0x99);
}

INSTANTIATE_TEST_SUITE_P(QuitSignals, LumacorSignal, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

TEST(LumacorSave, CreatedAtFirstRunAndReadBackAtTheNext) {
    TempDir dir;
    std::string rom = copy_rom("save", dir);
    ProcessResult first = run_lumacor({rom});
    expect_clean_exit(first);
    EXPECT_EQ(after_start_up(first.out), "out[0x80] <- 0x0\nWriting save to " + rom + ".sav\n");
    std::vector<unsigned char> save = read_bytes(rom + ".sav");
    ASSERT_EQ(save.size(), 4096u);
    EXPECT_EQ(save[0], 1);
    EXPECT_EQ(save[0xFFF], 0x5A);

    ProcessResult second = run_lumacor({rom});
    expect_clean_exit(second);
    EXPECT_EQ(after_start_up(second.out), "out[0x80] <- 0x1\nWriting save to " + rom + ".sav\n");
    EXPECT_EQ(read_bytes(rom + ".sav")[0], 2);
}

TEST(LumacorSave, ShortSaveFileIsReadAndRewrittenWhole) {
    TempDir dir;
    std::string rom = copy_rom("save", dir);
    write_bytes(rom + ".sav", {7, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    ProcessResult result = run_lumacor({rom});
    expect_clean_exit(result);
    EXPECT_EQ(after_start_up(result.out), "out[0x80] <- 0x7\nWriting save to " + rom + ".sav\n");
    std::vector<unsigned char> save = read_bytes(rom + ".sav");
    ASSERT_EQ(save.size(), 4096u);
    const std::vector<unsigned char> start{8, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0};
    EXPECT_EQ(std::vector<unsigned char>(save.begin(), save.begin() + 11), start);
    EXPECT_EQ(save[0xFFE], 0);
    EXPECT_EQ(save[0xFFF], 0x5A);
}

TEST(LumacorSave, RomPathLongerThan190BytesGetsItsSave) {
    TempDir dir;
    fs::create_directories(dir.file(std::string(90, 'a') + "/" + std::string(90, 'b')));
    std::string name = std::string(90, 'a') + "/" + std::string(90, 'b') + "/" + std::string(40, 'c') + ".rom";
    std::string rom = copy_rom("save", dir, name);
    ASSERT_GT(rom.size(), 190u);
    ProcessResult result = run_lumacor({rom});
    expect_clean_exit(result);
    EXPECT_EQ(after_start_up(result.out), "out[0x80] <- 0x0\nWriting save to " + rom + ".sav\n");
    std::vector<unsigned char> save = read_bytes(rom + ".sav");
    ASSERT_EQ(save.size(), 4096u);
    EXPECT_EQ(save[0], 1);
}

} // namespace
