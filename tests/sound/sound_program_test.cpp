// The lumacor-sound program: its preview against lumacor-run playing the
// docs' smallest player, its errors and its exit statuses.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "preview.h"
#include "process.h"

namespace {

const std::string SOUND = LUMACOR_SOUND_PATH;
const std::string ASM = LUMACOR_ASM_PATH;
const std::string RUN = LUMACOR_RUN_PATH;

// The lines of the docs' example that opens with "```KIND NAME".
std::string docs_example(const std::string& fence) {
    std::string page = read_file(LUMACOR_SOURCE_DIR "/docs/sound.md");
    size_t start = page.find("```" + fence + "\n");
    if (start == std::string::npos) return "";
    start += fence.size() + 4;
    return page.substr(start, page.find("```", start) - start);
}

void write_text(const std::string& path, const std::string& text) {
    write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(SoundProgram, PreviewIsWhatTheMachinePlays) {
    // The page's player is the one the preview builds, so both runs below
    // play the same program.
    ASSERT_EQ(docs_example("asm player.asm"), Sound_player_source("sounds_tune", false));
    TempDir dir;
    write_text(dir.file("sounds.snd"), docs_example("snd sounds.snd"));
    struct Case {
        const char* name;
        bool effect;
        const char* frames;
    } cases[] = {{"tune", false, "300"}, {"jump", true, "40"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult r = Process_run({SOUND, dir.file("sounds.snd"), "-o", dir.file("sounds.inc"), "--wav",
                                       dir.file("preview.wav"), "--play", c.name, "--frames", c.frames});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        write_text(dir.file("player.asm"), Sound_player_source(std::string("sounds_") + c.name, c.effect));
        r = Process_run({ASM, dir.file("player.asm"), "-o", dir.file("player.rom")});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        r = Process_run({RUN, dir.file("player.rom"), "--frames", c.frames, "--wav", dir.file("run.wav"), "--quiet"});
        ASSERT_EQ(r.exit_code, 3) << r.err; // the frame limit
        std::vector<uint8_t> preview = read_bytes(dir.file("preview.wav"));
        EXPECT_EQ(preview.size(), 44 + 768 * 4 * std::stoul(c.frames));
        EXPECT_TRUE(preview == read_bytes(dir.file("run.wav")));
        // Not two silences: the sound is there.
        size_t loud = 0;
        for (size_t i = 44; i + 4 <= preview.size(); i += 4) {
            float sample;
            std::memcpy(&sample, &preview[i], 4);
            loud += sample > 0.5f;
        }
        EXPECT_GT(loud, 1000u);
    }
}

TEST(SoundProgram, ErrorsListedAndNothingWritten) {
    TempDir dir;
    write_text(dir.file("bad.snd"), "song a\nC4 sqare 1\n\neffect b\nC4 sine 999\n");
    ProcessResult r = Process_run({SOUND, dir.file("bad.snd"), "-o", dir.file("bad.inc")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, dir.file("bad.snd") + ":2:4: unknown waveform 'sqare'\n" + dir.file("bad.snd") +
                         ":5:9: volume '999' is not a number 0..255\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("bad.inc")));

    write_text(dir.file("my-sounds.snd"), "effect a\nC4 sine 1\n");
    r = Process_run({SOUND, dir.file("my-sounds.snd"), "--wav", dir.file("a.wav"), "--play", "b", "-o",
                     dir.file("a.inc")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("no effect or song named 'b'"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.inc")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.wav")));
    // The prefix comes from the file's name, made a symbol.
    r = Process_run({SOUND, dir.file("my-sounds.snd"), "-o", dir.file("a.inc")});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(read_file(dir.file("a.inc")).find("\nmy_sounds_a:\n"), std::string::npos);
}

TEST(SoundProgram, Usage) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says; // on standard output for status 0, standard error otherwise
    } cases[] = {
        {{"--help"}, 0, "Exit status:"},
        {{"x.snd"}, 2, "nothing to do"},
        {{"x.snd", "--wav", "x.wav"}, 2, "need --play"},
        {{"x.snd", "-o", "x.inc", "--name", "9x"}, 2, "--name 9x"},
        {{"x.snd", "-o", "x.inc", "--bogus"}, 2, "lumacor-sound:"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {SOUND};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ProcessResult r = Process_run(argv);
        EXPECT_EQ(r.exit_code, c.status) << c.args.back();
        EXPECT_NE((c.status ? r.err : r.out).find(c.says), std::string::npos) << r.out << r.err;
    }
}

} // namespace
