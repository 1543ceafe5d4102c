// The built programs run as a user runs them, on ROMs each test assembles
// for itself: every seam that only a real run exercises, once. The window
// program's output, exit status and save file; how signals, kills and
// closing the window end a run; its set-up failures; its picture on an X
// server and its sound through SDL's disk driver. The runner's exit statuses
// and options, and the assembler's files.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <regex>

#include "assembler.h"
#include "process.h"
#include "reference_frame.h"
#include "virtual_screen.h"

namespace fs = std::filesystem;

namespace {

// Assembles `source` into `dir`/game.rom, with `tail` placed from 0x1000 on.
std::string rom(const TempDir& dir, const std::string& source, const std::vector<uint8_t>& tail = {}) {
    Assembly a = Assembler_assemble_text("test.asm", source);
    EXPECT_TRUE(Assembly_ok(a)) << AsmDiagnostic_format(a.diagnostics.at(0));
    if (!tail.empty()) {
        a.image.resize(0x1000);
        a.image.insert(a.image.end(), tail.begin(), tail.end());
    }
    write_bytes(dir.file("game.rom"), a.image);
    return dir.file("game.rom");
}

ProcessOptions drivers(const std::string& video = "dummy", const std::string& audio = "dummy") {
    ProcessOptions options;
    options.env = {{"SDL_VIDEODRIVER", video}, {"SDL_AUDIODRIVER", audio}};
    options.timeout = 30s;
    return options;
}

const std::string MAP = "0000-7FFF 1 rom (32768)\n8000-9FFF 1 gpu (8192)\nA000-DFFF 1 ram (16384)\n"
                        "E000-EFFF 1 storage (4096)\nFF00-FF06 1 i/o dma (7)\nFF07-FF09 1 i/o apu (3)\n"
                        "FF0A-FF0B 1 i/o controller (2)\nFF80-FFFF 1 stack (128)\n0080-0080 2 test (1)\n";
const std::string CLOCK = "CPU clock rate: 1000000 Hz\nVideo refresh rate: 60 Hz\nCPU cycles per frame: "
                          "16666\nRefresh time: 16 ms\n";

TEST(Lumacor, WithoutARomItExitsWithStatus255AndPrintsNothing) {
    ProcessResult r = Process_run({LUMACOR}, drivers());
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_EQ(r.out + r.err, "");
}

// 30 frame interrupts, then the test port, a bank switch and save RAM that
// the next run reads back.
TEST(Lumacor, RunsTheProgramAndKeepsItsSaveRamFromRunToRun) {
    TempDir dir;
    std::string path = rom(
        dir, ".vector 0, frame\n.start\n EI\nidle: JMP idle\n"
             "frame: INC r0\n CMP r0, 30\n JZ done\n RETI\n"
             "done: OUT 0x80, r0\n IN r1, 0x80\n LDW p2, 0x4000\n ST [p2], 2\n LD r1, [p2]\n OUT 0x80, r1\n"
             " LDW p2, 0xE000\n LD r1, [p2]\n INC r1\n ST [p2], r1\n OUT 0x80, r1\n HALT\n"
             ".bank 2\n .byte 0xB2\n");
    for (int run = 1; run <= 2; ++run) {
        auto started = std::chrono::steady_clock::now();
        ProcessResult r = Process_run({LUMACOR, path, "ignored"}, drivers());
        EXPECT_GE(std::chrono::steady_clock::now() - started, 29 * 16ms) << "frames are paced 16 ms apart";
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        // The dummy video driver has no accelerated renderer: no picture, and the machine runs on.
        std::regex expected(
            "sizeof Computer: [0-9]+ byte\n" + std::regex_replace(MAP, std::regex(R"([()])"), R"(\$&)") +
            "SDL_CreateRenderer Error: [^\n]+\n" + CLOCK +
            "out\\[0x80\\] <- 0x1E\nin\\[0x80\\] -> 0x1E\nBank switched to: 2\nout\\[0x80\\] <- 0xB2\n"
            "out\\[0x80\\] <- 0x" +
            std::to_string(run) + "\nWriting save to " + path + "\\.sav\n");
        EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
        EXPECT_EQ(read_bytes(path + ".sav").size(), 4096u);
    }
}

TEST(Lumacor, SetUpFailuresAreReportedAndTheMachineRunsOn) {
    TempDir dir;
    const std::string missing = dir.file("missing.rom");
    ProcessOptions options = drivers("no-such-video-driver", "disk");
    options.env["SDL_DISKAUDIOFILE"] = dir.file("no/such/directory/stream.raw");
    ChildProcess child;
    ASSERT_TRUE(Process_start(&child, {LUMACOR, missing}, options));
    EXPECT_TRUE(wait_for_output(&child, CLOCK))
        << child.out; // an empty machine runs until it is told to stop
    Process_signal(&child, SIGTERM);
    ProcessResult r = Process_wait(&child, 30s);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find(MAP +
                         "SDL_Init Error: no-such-video-driver not available\nFile could not be opened: " +
                         missing + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("failed to open audio: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("failed to init audio"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Writing save"), std::string::npos);
    EXPECT_FALSE(fs::exists(missing + ".sav"));
}

// Writes "SAVED" into save RAM, then counts frames in its byte 0x10 and
// reports each count: the file must follow while the program runs.
const char* SAVE_LOOP =
    ".vector 0, frame\n.start\n LDW p2, 0xE000\n LDW p4, mark\n"
    "copy: LD r0, [p4]\n ST [p2], r0\n INCW p2\n INCW p4\n CMP r0, 0\n JNZ copy\n EI\nidle: JMP idle\n"
    "frame: LDW p6, 0xE010\n LD r8, [p6]\n INC r8\n ST [p6], r8\n OUT 0x80, r8\n RETI\n"
    "mark: .asciz \"SAVED\"\n";

bool saved(const std::string& path) { return read_file(path + ".sav").starts_with("SAVED"); }

// A kill leaves what the periodic save wrote while running; SIGINT and
// SIGTERM end the run normally, writing the last save RAM.
TEST(Lumacor, SignalsAndKillsLeaveTheSaveRamInItsFile) {
    for (int signal : {SIGKILL, SIGINT, SIGTERM}) {
        if (signal != SIGKILL)
            std::signal(signal, SIG_DFL); // SDL quits on a signal that has its default action
        TempDir dir;
        std::string path = rom(dir, SAVE_LOOP);
        ChildProcess child;
        ASSERT_TRUE(Process_start(&child, {LUMACOR, path}, drivers()));
        ASSERT_TRUE(wait_until([&] { return saved(path); }))
            << "the save RAM never reached the file while running";
        auto counter = [&] { return read_bytes(path + ".sav").at(0x10); };
        const uint8_t first = counter();
        if (signal == SIGKILL) {
            EXPECT_TRUE(wait_until([&] { return counter() != first; })) << "nor did later changes";
        }
        Process_signal(&child, signal);
        ProcessResult r = Process_wait(&child, 30s);
        if (signal == SIGKILL) {
            EXPECT_EQ(r.signal, SIGKILL);
            EXPECT_TRUE(saved(path));
            continue;
        }
        EXPECT_EQ(r.exit_code, 0) << "signal " << signal << ": " << r.err;
        EXPECT_NE(r.out.find("Writing save to " + path + ".sav\n"), std::string::npos) << r.out;
        ASSERT_FALSE(test_port_values(r.out).empty());
        EXPECT_EQ(counter(), test_port_values(r.out).back()) << "signal " << signal;
    }
}

// The window at 100, 100 shows each texel as a 2 x 2 block of its colour, or
// black where nothing was drawn. The program copies random video memory in
// only after ten frame interrupts, so the picture appears only while frames
// go on being composed and interrupted.
TEST(Lumacor, ShowsItsPictureInAWindowAndEndsWhenTheWindowCloses) {
    VirtualScreen screen;
    std::string error;
    ASSERT_TRUE(VirtualScreen_start(&screen, &error)) << error;
    TempDir dir;
    std::vector<uint8_t> vram(8192);
    std::mt19937 random(2024);
    for (uint8_t& b : vram) b = static_cast<uint8_t>(random());
    std::string path = rom(
        dir,
        ".vector 0, frame\n.start\n EI\nidle: JMP idle\nframe: INC r9\n CMP r9, 10\n JNZ done\n"
        " LDW p0, 0xFF00\n LDW p2, 0x1000\n STW [p0], p2\n LDW p0, 0xFF02\n LDW p2, 0x8000\n STW [p0], p2\n"
        " LDW p0, 0xFF04\n LDW p2, 0x2000\n STW [p0], p2\n LDW p0, 0xFF06\n ST [p0], 1\ndone: RETI\n",
        vram);
    std::vector<uint8_t> frame = reference::frame(vram.data()), want, shot;
    for (int y = 0; y < 384; ++y)
        for (int x = 0; x < 512; ++x)
            for (int c : {2, 1, 0}) {
                const uint8_t* texel = &frame[4 * (256 * (y / 2) + x / 2)];
                want.push_back(texel[3] ? texel[c] : 0);
            }
    ProcessOptions options = drivers("x11");
    options.env["DISPLAY"] = screen.display;
    // The X and GL drivers keep allocations the leak checker cannot follow;
    // scripts/valgrind.sh checks a window run for leaks with them suppressed.
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":detect_leaks=0";
    ChildProcess child;
    ASSERT_TRUE(Process_start(&child, {LUMACOR, path}, options));
    wait_until([&] { return (shot = VirtualScreen_capture(&screen, 100, 100, 512, 384)) == want; }, 30s);
    EXPECT_TRUE(shot == want) << "the window does not show the frame (" << shot.size() << " bytes captured)";
    EXPECT_EQ(VirtualScreen_run(&screen, {CLOSE_WINDOW, "lumacor", "30"}).exit_code, 0);
    ProcessResult r = Process_wait(&child, 30s);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Writing save to " + path + ".sav\n"), std::string::npos) << r.out;
}

TEST(Lumacor, PlaysTheVoiceItsRegistersAskFor) {
    TempDir dir;
    std::string path =
        rom(dir, ".start\n LDW p2, 0xFF07\n ST [p2], 2\n INCW p2\n ST [p2], 69\n INCW p2\n ST [p2], 255\n"
                 " LD r0, 4\nouter: LDW p4, 0xFFFF\ninner: DECW p4\n CMPW p4, 0\n JNZ inner\n DEC r0\n JNZ "
                 "outer\n HALT\n");
    ProcessOptions options = drivers("dummy", "disk");
    options.env["SDL_DISKAUDIOFILE"] = dir.file("stream.raw");
    ProcessResult r = Process_run({LUMACOR, path}, options);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    std::vector<uint8_t> bytes = read_bytes(dir.file("stream.raw"));
    std::vector<float> samples(bytes.size() / sizeof(float));
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    // About 47 frames of a full-scale square at 440 Hz, from the first sound
    // on: only +1 and -1, in half periods of 54 or 55 samples at 48000 Hz.
    auto sound = std::find_if(samples.begin(), samples.end(), [](float s) { return s != 0.0f; });
    ASSERT_GE(samples.end() - sound, 20000) << "no sound";
    size_t last_change = 0, changes = 0;
    for (auto s = sound + 1; s != samples.end(); ++s) {
        ASSERT_TRUE(*s == 1.0f || *s == -1.0f) << *s;
        if (*s == s[-1]) continue;
        size_t at = static_cast<size_t>(s - sound);
        if (changes++) {
            ASSERT_TRUE(at - last_change == 54 || at - last_change == 55) << at - last_change;
        }
        last_change = at;
    }
}

TEST(LumacorRun, ExitStatusTellsHowTheRunEnded) {
    TempDir dir;
    std::string path =
        rom(dir, ".vector 0, frame\n.start\n LDW p0, 0xE000\n ST [p0], 0x5A\n EI\nidle: JMP idle\n"
                 "frame: LDW p0, 0xFF0A\n LD r2, [p0]\n OUT 0x80, r2\n RETI\n");
    ProcessResult r = Process_run(
        {LUMACOR_RUN, path, "--frames", "3", "--press", "1:a+up", "--screenshot", dir.file("shot.png")});
    EXPECT_EQ(r.exit_code, 3) << r.err;
    EXPECT_EQ(test_port_values(r.out), (std::vector<int>{0x41, 0x41}));
    EXPECT_EQ(read_bytes(path + ".sav").at(0), 0x5A);
    EXPECT_EQ(read_file(dir.file("shot.png")).substr(0, 4), "\x89PNG");

    TempDir halt, illegal;
    r = Process_run({LUMACOR_RUN, rom(halt, ".start\n HALT\n"), "--trace"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("\n0100  FF           HALT  "), std::string::npos) << r.out;
    r = Process_run({LUMACOR_RUN, rom(illegal, ".start\n .byte 0x71\n")});
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.err, "Illegal opcode 0x71 at 0x0100\n");

    fs::create_directory(dir.file("folder"));
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{},
                                               {dir.file("missing.rom")},
                                               {dir.file("folder")},
                                               {path, "--frames", "-1"},
                                               {path, "--press", "3:jump"},
                                               {path, path},
                                               {path, "--screenshot", dir.file("no/shot.png")}}) {
        args.insert(args.begin(), LUMACOR_RUN);
        r = Process_run(args);
        EXPECT_EQ(r.exit_code, 2) << args.size() << " arguments, the last " << args.back();
        EXPECT_NE(r.err, "") << args.back();
    }
}

// The hardware include, symbols and debug information are the tool tests';
// here the listing, the depfile and a failed run.
TEST(LumacorAsm, WritesItsFilesOrOnlyItsErrors) {
    TempDir dir;
    write_bytes(dir.file("inc.asm"), {'V', '=', '7', '\n'});
    std::string main = ".include \"inc.asm\"\n.start\nmain: LD r0, V\nFROB\n";
    write_text(dir.file("main.asm"), main);
    std::vector<std::string> args = {LUMACOR_ASM, dir.file("main.asm"), "-o", dir.file("out.rom"),
                                     "-l",        dir.file("out.lst"),  "-d", dir.file("out.d")};
    ProcessResult r = Process_run(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(dir.file("main.asm") + ":4:1: error: unknown mnemonic 'FROB'\n"), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir.file("out.rom")));
    main.resize(main.size() - 5);
    write_text(dir.file("main.asm"), main);
    r = Process_run(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir.file("out.rom")).size(), 0x103u);
    EXPECT_NE(read_file(dir.file("out.lst")).find("000100  0100  10 00 07"), std::string::npos);
    EXPECT_NE(read_file(dir.file("out.d")).find(dir.file("inc.asm")), std::string::npos);
}

} // namespace
