// lumacor-run's state, save-file, sound and quiet options, run for real.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "assembler.h"
#include "process.h"

namespace {

// Reports save RAM byte 1, leaves 0x42 in byte 0 and plays a loud square A4.
constexpr const char* PROBE = R"(
.start
        LDW   p8, 0xE001
        LD    r0, [p8]
        OUT   0x80, r0
        LDW   p8, 0xE000
        ST    [p8], 0x42
        LDW   p8, 0xFF07
        ST    [p8], 2
        LDW   p8, 0xFF08
        ST    [p8], 69
        LDW   p8, 0xFF09
        ST    [p8], 255
.wait:  JMP   .wait
)";

// RIFF header, an 18-byte format chunk, a fact chunk and the data chunk's head.
constexpr size_t WAV_FLOAT_HEADER = 12 + 26 + 12 + 8;

struct RunnerState : testing::Test {
    TempDir dir;
    std::string rom = dir.file("game.rom");

    void put_rom(const std::vector<unsigned char>& image) { write_bytes(rom, image); }
    void put_probe() {
        Assembly a = Assembler_assemble_text("probe.asm", PROBE);
        ASSERT_TRUE(Assembly_ok(a));
        put_rom({a.image.begin(), a.image.end()});
    }
    ProcessResult run(std::vector<std::string> args) {
        args.insert(args.begin(), {LUMACOR_RUN_PATH, rom});
        return Process_run(args);
    }
};

TEST_F(RunnerState, ASavedStateRunsOnAsTheUninterruptedRun) {
    put_rom(read_bytes(DEMO_ROM_PATH));
    const std::vector<std::string> play{"--press", "30:start", "--press", "90:a", "--press", "200:right+a"};
    auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.end(), play.begin(), play.end());
        extra.push_back("--no-save");
        return run(extra);
    };
    EXPECT_EQ(with({"--frames", "300", "--save-state", dir.file("s")}).exit_code, 3);
    EXPECT_EQ(run({"--frames", "150", "--load-state", dir.file("s"), "--screenshot", dir.file("a.png"),
                   "--no-save"})
                  .exit_code,
              3);
    EXPECT_EQ(with({"--frames", "450", "--screenshot", dir.file("b.png")}).exit_code, 3);
    EXPECT_EQ(read_bytes(dir.file("a.png")), read_bytes(dir.file("b.png")));
    EXPECT_TRUE(read_file(rom + ".sav").empty()) << "--no-save writes no save file";
}

TEST_F(RunnerState, RefusedStatesNameTheFileAndTheReasonAndTouchNothing) {
    put_probe();
    write_bytes(rom + ".sav", std::vector<unsigned char>(4096, 7));
    ASSERT_EQ(run({"--frames", "1", "--save-state", dir.file("s"), "--no-save"}).exit_code, 3);
    put_rom(read_bytes(DEMO_ROM_PATH));
    ASSERT_EQ(run({"--frames", "1", "--save-state", dir.file("d"), "--no-save"}).exit_code, 3);
    std::vector<unsigned char> state = read_bytes(dir.file("d"));
    write_bytes(dir.file("short"), {state.begin(), state.end() - 1});
    const std::vector<std::pair<std::string, std::string>> cases{
        {dir.file("short"), "truncated"},
        {dir.file("s"), "taken of another cartridge"},
        {dir.file("missing"), "No such file or directory"},
    };
    for (const auto& [file, reason] : cases) {
        ProcessResult r = run({"--load-state", file, "--quiet"});
        EXPECT_EQ(r.exit_code, 2) << file;
        EXPECT_EQ(r.err, "lumacor-run: could not load state " + file + ": " + reason + "\n");
        EXPECT_EQ(read_bytes(rom + ".sav"), std::vector<unsigned char>(4096, 7));
    }
}

TEST_F(RunnerState, SaveFileChoiceSoundAndQuiet) {
    put_probe();
    std::vector<unsigned char> old_save(4096, 0);
    old_save[1] = 9;
    write_bytes(rom + ".sav", old_save);

    ProcessResult own = run({"--frames", "2", "--save", dir.file("mine")});
    EXPECT_NE(own.out.find("out[0x80] <- 0x0\n"), std::string::npos) << "the other file is blank";
    EXPECT_EQ(read_bytes(dir.file("mine")).at(0), 0x42);
    EXPECT_EQ(read_bytes(rom + ".sav"), old_save);

    ProcessResult blank = run({"--frames", "2", "--no-save", "--quiet", "--wav", dir.file("w.wav")});
    EXPECT_EQ(blank.out, "") << "quiet";
    EXPECT_EQ(blank.err, "");
    EXPECT_EQ(read_bytes(rom + ".sav"), old_save);
    std::vector<unsigned char> wav = read_bytes(dir.file("w.wav"));
    ASSERT_EQ(wav.size(), WAV_FLOAT_HEADER + 2 * 768 * 4);
    float first = 0, last = 0;
    std::memcpy(&first, wav.data() + WAV_FLOAT_HEADER, 4);
    std::memcpy(&last, wav.data() + wav.size() - 4, 4);
    EXPECT_EQ(first, 1.0f) << "the square wave starts high at full volume";
    EXPECT_NE(last, 0.0f);

    Assembly illegal = Assembler_assemble_text("illegal.asm", ".start\n.byte 0x01\n");
    ASSERT_TRUE(Assembly_ok(illegal));
    put_rom({illegal.image.begin(), illegal.image.end()});
    ProcessResult stopped = run({"--quiet", "--no-save"});
    EXPECT_EQ(stopped.out, "");
    EXPECT_EQ(stopped.err, "Illegal opcode 0x01 at 0x0100\n") << "errors still show";
    put_probe();

    ProcessResult loud = run({"--frames", "2"});
    EXPECT_NE(loud.out.find("out[0x80] <- 0x9\n"), std::string::npos) << "ROM.sav by default";
}

// The sound files as sound tools and players read them: sox without a
// warning, Python's wave module for the integer format.
TEST_F(RunnerState, SoundFilesReadBySoxAndPython) {
    for (std::string reader : {SOX_PATH, PYTHON_PATH})
        ASSERT_FALSE(reader.ends_with("NOTFOUND")) << reader << ": scripts/deps.sh installs it";
    put_probe();
    for (std::string format : {"f32", "s16"}) {
        std::string wav = dir.file(format + ".wav");
        ASSERT_EQ(
            run({"--frames", "2", "--no-save", "--quiet", "--wav", wav, "--wav-format", format}).exit_code,
            3);
        ProcessResult info = Process_run({SOX_PATH, "--i", wav});
        EXPECT_EQ(info.exit_code + info.err.size(), 0u) << format << ": sox warns: " << info.err;
        std::string encoding = format == "f32" ? "32-bit Floating Point PCM" : "16-bit Signed Integer PCM";
        for (std::string line : {std::string("Channels       : 1\nSample Rate    : 48000\n"),
                                 std::string("= 1536 samples"), "Sample Encoding: " + encoding + "\n"})
            EXPECT_NE(info.out.find(line), std::string::npos) << format << " lacks " << line << info.out;
    }
    ProcessResult python = Process_run(
        {PYTHON_PATH, "-c",
         "import sys, wave\n"
         "w = wave.open(sys.argv[1])\n"
         "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), w.readframes(2).hex())",
         dir.file("s16.wav")});
    EXPECT_EQ(python.err, "");
    EXPECT_EQ(python.out, "1 2 48000 1536 ff7fff7f\n") << "two samples at full scale";
}

} // namespace
