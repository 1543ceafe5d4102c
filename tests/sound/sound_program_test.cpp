// The lumacor-sound program: its preview against lumacor-run playing the
// docs' smallest player, its errors and its exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <tuple>

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

// Where a WAV file's samples start: after the data chunk's head.
size_t samples_at(const std::vector<uint8_t>& wav) {
    const std::string data = "data";
    return size_t(std::search(wav.begin(), wav.end(), data.begin(), data.end()) - wav.begin()) + 8;
}

TEST(SoundProgram, PreviewIsWhatTheMachinePlays) {
    // The page's player is the one the preview builds, so both runs below
    // play the same program.
    ASSERT_EQ(docs_example("asm player.asm"), Sound_player_source("sounds_tune", false));
    TempDir dir;
    write_text(dir.file("sounds.snd"), docs_example("snd sounds.snd"));
    using Case = std::tuple<const char*, bool, const char*>; // block, an effect?, frames
    for (const auto& [name, effect, frames] : {Case{"tune", false, "300"}, Case{"jump", true, "40"}}) {
        SCOPED_TRACE(name);
        ProcessResult r = Process_run({SOUND, dir.file("sounds.snd"), "-o", dir.file("sounds.inc"), "--wav",
                                       dir.file("preview.wav"), "--play", name, "--frames", frames});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        write_text(dir.file("player.asm"), Sound_player_source(std::string("sounds_") + name, effect));
        r = Process_run({ASM, dir.file("player.asm"), "-o", dir.file("player.rom")});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        r = Process_run(
            {RUN, dir.file("player.rom"), "--frames", frames, "--wav", dir.file("run.wav"), "--quiet"});
        ASSERT_EQ(r.exit_code, 3) << r.err; // the frame limit
        std::vector<uint8_t> preview = read_bytes(dir.file("preview.wav"));
        EXPECT_EQ(preview.size(), samples_at(preview) + 768 * 4 * std::stoul(frames));
        EXPECT_TRUE(preview == read_bytes(dir.file("run.wav")));
        // Not two silences: the sound is there.
        size_t loud = 0;
        for (size_t i = samples_at(preview); i + 4 <= preview.size(); i += 4) {
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

// --listen through SDL's disk audio driver, which writes what it is given to
// a file: the preview's samples, then the device's silence.
TEST(SoundProgram, ListenPlaysThePreview) {
    TempDir dir;
    write_text(dir.file("s.snd"), "effect beep\nspeed 1\nA4 square 200 8\n");
    ProcessResult r =
        Process_run({SOUND, dir.file("s.snd"), "--wav", dir.file("s.wav"), "--play", "beep", "--frames", "10",
                     "--listen"},
                    {{{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", dir.file("heard.raw")}}});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<uint8_t> wav = read_bytes(dir.file("s.wav")), heard = read_bytes(dir.file("heard.raw"));
    ASSERT_GE(heard.size(), wav.size() - samples_at(wav));
    EXPECT_TRUE(std::equal(wav.begin() + long(samples_at(wav)), wav.end(), heard.begin()));
}

TEST(SoundProgram, Usage) {
    // Arguments, the status, and what it says: on standard output for status 0, else on standard error.
    using Case = std::tuple<std::vector<std::string>, int, const char*>;
    for (const auto& [args, status, says] :
         {Case{{"--help"}, 0, "Exit status:"}, Case{{"x.snd"}, 2, "nothing to do"},
          Case{{"x.snd", "--wav", "x.wav"}, 2, "need --play"},
          Case{{"x.snd", "-o", "x.inc", "--name", "9x"}, 2, "--name 9x"},
          Case{{"x.snd", "-o", "x.inc", "--bogus"}, 2, "lumacor-sound:"}}) {
        std::vector<std::string> argv = {SOUND};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessResult r = Process_run(argv);
        EXPECT_EQ(r.exit_code, status) << args.back();
        EXPECT_NE((status ? r.err : r.out).find(says), std::string::npos) << r.out << r.err;
    }
}

} // namespace
