// The sound text read into the model and back, its errors, and the driver in
// sound.inc running the converted data in the machine, its three audio
// registers checked frame by frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>

#include "sound.h"
#include "sound_driver.h"

namespace {

TEST(SoundText, NotesByNameAndNumber) {
    using Case = std::pair<const char*, int>; // as written, the note
    for (const auto& [written, note] :
         {Case{"C4", 60}, Case{"A4", 69}, Case{"C#4", 61}, Case{"Db4", 61}, Case{"c-1", 0}, Case{"B7", 107},
          Case{"60", 60}, Case{"0", 0}, Case{"107", 107}, Case{"Bb3", 58}, Case{"E#4", 65}}) {
        SoundFile file = Sound_parse(std::string("song s\n") + written + " sine 1\n");
        ASSERT_TRUE(file.errors.empty()) << written << ": " << file.errors[0].message;
        EXPECT_EQ(file.blocks[0].steps[0].note, note) << written;
    }
    for (int note = 0; note < SOUND_NOTES; ++note) {
        SoundFile file = Sound_parse("song s\n" + Sound_note_name(note) + " sine 1\n");
        EXPECT_EQ(file.blocks.at(0).steps.at(0).note, note) << Sound_note_name(note);
    }
}

TEST(SoundText, ReadsEveryField) {
    SoundFile file = Sound_parse("; a comment\n"
                                 "effect zap   ; after a block\n"
                                 "speed 3\n"
                                 "C5 noise 200 4 fade -20 slide +2 arp 4 7\n"
                                 "--- 2\n"
                                 "song tune\n"
                                 "A4 saw 9 arp 12\n"
                                 "mark\n"
                                 "B4 square 0\n"
                                 "loop\n");
    ASSERT_TRUE(file.errors.empty()) << file.errors[0].message;
    // The model, seen through the text written from it and a few fields.
    EXPECT_EQ(Sound_text(file), "effect zap\nspeed 3\nC5 noise 200 4 fade -20 slide 2 arp 4 7\n--- 2\n\n"
                                "song tune\nspeed 6\nA4 saw 9 arp 12 0\nmark\nB4 square 0\nloop\n");
    const SoundStep& zap = file.blocks.at(0).steps.at(0);
    EXPECT_EQ(std::tuple(zap.note, zap.wave, zap.fade, zap.line), std::tuple(72, SoundWave::noise, -20, 4));
    EXPECT_EQ(file.blocks[0].kind, SoundKind::effect);
    EXPECT_EQ(file.blocks[1].mark, 1);
    // Written back, the text reads to the same model.
    SoundFile again = Sound_parse(Sound_text(file));
    ASSERT_TRUE(again.errors.empty());
    EXPECT_EQ(Sound_text(again), Sound_text(file));
    EXPECT_TRUE(Sound_check(file).empty());
}

TEST(SoundText, EachErrorWithItsLineAndColumn) {
    struct Case {
        const char* text;
        const char* errors; // "line:column: message" lines
    } cases[] = {
        {"song s\nC4 sqare 300\n",
         "2:4: unknown waveform 'sqare'\n2:10: volume '300' is not a number 0..255\n"},
        {"C4 sine 1\n", "1:1: 'C4' outside a block; start one with 'effect NAME' or 'song NAME'\n"},
        {"song s\nH4 sine 1\n",
         "2:1: 'H4' is not a note (C4, F#3, a number 0..107), a rest (---) or a keyword\n"},
        {"song s\nC8 sine 1\n", "2:1: note 'C8' is outside 0..107 (C-1..B7)\n"},
        {"song s\n  C4\n", "2:5: missing waveform\n"},
        {"song s\nC4 sine\n", "2:8: missing volume\n"},
        {"song s\nC4 sine 1 0\n", "2:11: length '0' is not a number 1..65535\n"},
        {"song s\nC4 sine 1 fade -256\n", "2:16: fade '-256' is not a number -255..255\n"},
        {"song s\nC4 sine 1 slide 108\n", "2:17: slide '108' is not a number -107..107\n"},
        {"song s\nC4 sine 1 arp 16\n", "2:15: arpeggio offset '16' is not a number 0..15\n"},
        {"song s\nC4 sine 1 arp 1 2 fade 1 arp 3\n", "2:26: 'arp' given twice\n"},
        {"song s\nC4 sine 1 wobble 2\n", "2:11: unknown option 'wobble' (fade, slide or arp)\n"},
        {"song s\n--- square\n", "2:5: a rest takes only a length, not 'square'\n"},
        {"song s\n--- 2 fade 1\n", "2:7: a rest takes no 'fade'\n"},
        {"song s\nC4 sine 1\nspeed 2\n", "3:1: 'speed' must come before the block's first step\n"},
        {"song s\nspeed 0\nC4 sine 1\n", "2:7: speed '0' is not a number 1..255\n"},
        {"song 1s\nC4 sine 1\n", "1:6: bad name '1s': letters, digits and '_', not starting with a digit\n"},
        {"song s\nC4 sine 1\neffect s\nC4 sine 1\n", "3:8: 's' is defined twice (first at line 1)\n"},
        {"song\n", "1:5: missing name\n"},
        {"song s\n", "1:1: 's' has no steps\n"},
        {"song s\nC4 sine 1\nmark\nloop\n", "4:1: 'loop' has no steps to repeat\n"},
        {"song s\nC4 sine 1\nloop\nD4 sine 1\n", "4:1: nothing may follow 'loop' in a block\n"},
        {"song s\nmark\nC4 sine 1\nmark\nD4 sine 1\nloop\nloop\n",
         "4:1: a block has at most one 'mark'\n7:1: a block has at most one 'loop'\n"},
        {"song s extra\nC4 sine 1\n", "1:8: unexpected 'extra'\n"},
    };
    for (const Case& c : cases) {
        std::string got;
        for (const SoundError& e : Sound_parse(c.text).errors)
            got += std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.message + "\n";
        EXPECT_EQ(got, c.errors) << c.text;
    }
}

TEST(SoundText, ChecksModelsMadeElsewhere) {
    SoundFile file = Sound_parse("song a\nC4 sine 1\n");
    file.blocks[0].steps[0].note = 108;
    file.blocks.push_back(file.blocks[0]);
    file.blocks[1].steps[0].note = 1;
    file.blocks[1].mark = 1;
    file.blocks[1].loop = true;
    std::vector<std::string> problems = Sound_check(file);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0], "'a': step 1 has a value out of range");
    EXPECT_EQ(problems[1], "'a': defined twice");
    EXPECT_EQ(problems[2], "'a': the mark is past the last step");
}

// Frame, then the waveform, note and volume registers after it, for some of
// the frames from the first the driver ran.
struct DriverCase {
    const char* name;
    const char* text; // its first block starts at once
    int effect_at;    // when not 0, effect "e" starts after this many frames
    std::vector<int> expect;
};

const DriverCase driver_cases[] = {
    {"steps last their length times the speed, and a song ends in silence",
     "song s\nspeed 2\nC4 square 100\nD4 saw 50 2\n",
     0,
     {1, 2, 60, 100, 2, 2, 60, 100, 3, 1, 62, 50, 6, 1, 62, 50, 7, 1, 62, 0, 9, 1, 62, 0}},
    {"a rest silences and keeps the note",
     "song s\nspeed 1\nE4 sine 70\n---\nG4 noise 80\n",
     0,
     {1, 0, 64, 70, 2, 0, 64, 0, 3, 3, 67, 80, 4, 3, 67, 0}},
    {"a loop goes back to the start",
     "song s\nspeed 1\nC4 sine 10\nD4 sine 20\nloop\n",
     0,
     {1, 0, 60, 10, 2, 0, 62, 20, 3, 0, 60, 10, 4, 0, 62, 20, 5, 0, 60, 10}},
    {"a loop goes back to the mark",
     "song s\nspeed 1\nC4 square 10\nmark\nD4 square 20\nE4 square 30\nloop\n",
     0,
     {1, 2, 60, 10, 2, 2, 62, 20, 3, 2, 64, 30, 4, 2, 62, 20, 5, 2, 64, 30, 6, 2, 62, 20}},
    {"a fade stops at 0 and at 255",
     "song s\nspeed 1\nC4 square 100 4 fade -40\nD4 square 200 3 fade 40\n",
     0,
     {1, 2, 60, 100, 2, 2, 60, 60,  3, 2, 60, 20,  4, 2, 60, 0,
      5, 2, 62, 200, 6, 2, 62, 240, 7, 2, 62, 255, 8, 2, 62, 0}},
    {"a pitch slide stops at notes 0 and 107",
     "song s\nspeed 1\nC4 saw 9 3 slide -30\n100 saw 9 3 slide 5\n0 saw 9 4 slide 100\n",
     0,
     {1, 1, 60,  9, 2, 1, 30, 9, 3, 1, 0,   9, 4, 1, 100, 9, 5,  1, 105, 9,
      6, 1, 107, 9, 7, 1, 0,  9, 8, 1, 100, 9, 9, 1, 107, 9, 10, 1, 107, 9}},
    {"an arpeggio cycles three notes, the highest held at 107",
     "song s\nspeed 1\nC4 square 100 4 arp 4 7\n105 square 100 3 arp 4\n",
     0,
     {1,  2,   60, 100, 2,   2,   64, 100, 3,   2,   67, 100, 4,   2,
      60, 100, 5,  2,   105, 100, 6,  2,   107, 100, 7,  2,   105, 100}},
    {"a step longer than 255 frames goes on without starting again",
     "song s\nspeed 200\nC4 square 255 2 fade -1\nD4 square 9\n",
     0,
     {1, 2, 60, 255, 255, 2, 60, 1, 256, 2, 60, 0, 300, 2, 60, 0, 400, 2, 60, 0, 401, 2, 62, 9}},
    {"an effect plays over a song, which goes on underneath",
     "song s\nspeed 1\nC4 square 100\nD4 square 100\nE4 square 100\nF4 square 100\nG4 square 100\nloop\n"
     "effect e\nspeed 2\n96 noise 200 fade -50\n",
     2,
     {1, 2, 60, 100, 2, 2, 62, 100, 3, 3, 96, 200, 4, 3, 96, 150, 5, 2, 67, 100, 6, 2, 60, 100}},
    {"a name of any length is the whole label, and a loop back to it finds it",
     "song a_name_long_enough_that_its_label_and_its_loop_line_overflowed_the_writer_s_line_buffer_once\n"
     "speed 1\nC4 square 100\nD4 square 90\nloop\n",
     0,
     {1, 2, 60, 100, 2, 2, 62, 90, 3, 2, 60, 100}},
    {"an effect alone ends in silence",
     "effect e\nspeed 1\nC6 sine 50\nD6 sine 60\n",
     0,
     {1, 0, 84, 50, 2, 0, 86, 60, 3, 0, 86, 0}},
};

TEST(SoundDriver, RegistersFrameByFrame) {
    for (const DriverCase& c : driver_cases) {
        SCOPED_TRACE(c.name);
        SoundFile file = Sound_parse(c.text);
        ASSERT_TRUE(file.errors.empty()) << file.errors[0].message;
        const SoundBlock& first = file.blocks[0];
        DriverRun run(Sound_include_text(file, "t"), "t_" + first.name, first.kind == SoundKind::effect,
                      c.effect_at ? "t_e" : "", c.effect_at);
        ASSERT_TRUE(run.ok) << run.error;
        for (size_t i = 0, frame = 0; i + 3 < c.expect.size(); i += 4) {
            while (frame < static_cast<size_t>(c.expect[i])) run.frame(), ++frame;
            EXPECT_EQ(run.registers(),
                      (std::array<int, 3>{c.expect[i + 1], c.expect[i + 2], c.expect[i + 3]}))
                << "frame " << frame;
        }
        EXPECT_TRUE(run.registers_kept()) << "the driver changed a register of the interrupted code";
    }
}

TEST(SoundDriver, StopSilencesAndAnotherSongReplacesTheFirst) {
    SoundFile file = Sound_parse("song a\nspeed 1\nC4 sine 100\nloop\nsong b\nspeed 1\nD4 saw 90\nloop\n");
    DriverRun run(Sound_include_text(file, "t"), "t_a", false, "t_b", 2, "snd_music");
    ASSERT_TRUE(run.ok) << run.error;
    run.frame();
    run.frame();
    EXPECT_EQ(run.registers(), (std::array<int, 3>{0, 60, 100}));
    run.frame();
    EXPECT_EQ(run.registers(), (std::array<int, 3>{1, 62, 90}));
    DriverRun stopped(Sound_include_text(file, "t"), "t_a", false, "t_b", 2, "snd_stop");
    for (int i = 0; i < 4; ++i) stopped.frame();
    EXPECT_EQ(stopped.registers()[2], 0);
}

// The driver's RAM goes to its default when the program sets none, and
// where the program says otherwise; the music's pointer shows which.
TEST(SoundDriver, RamAtTheDefaultOrWhereTheProgramSetsIt) {
    SoundFile file = Sound_parse("song a\nspeed 1\nC4 sine 100\nD4 sine 100\nloop\n");
    for (auto [ram, address] :
         {std::pair<const char*, uint16_t>{"", 0xDFE0}, {"SND_RAM = 0xC100\n", 0xC100}}) {
        DriverRun run(Sound_include_text(file, "t"), "t_a", false, "", 0, "snd_effect", ram);
        ASSERT_TRUE(run.ok) << run.error;
        run.frame();
        run.frame();
        EXPECT_EQ(run.registers(), (std::array<int, 3>{0, 62, 100})) << ram;
        EXPECT_NE(Bus_read(&run.computer.bus, address), 0) << ram;          // the song's pointer: playing
        EXPECT_EQ(Bus_read(&run.computer.bus, address ^ 0x1EE0), 0) << ram; // the other place is untouched
    }
}

TEST(SoundDriver, ARestFromAnImporterIsSilentWhateverItsVolume) {
    SoundFile file = Sound_parse("song a\nspeed 1\nC4 sine 100\n---\n");
    file.blocks[0].steps[1].volume = 90;
    DriverRun run(Sound_include_text(file, "t"), "t_a", false);
    ASSERT_TRUE(run.ok) << run.error;
    run.frame();
    run.frame();
    EXPECT_EQ(run.registers(), (std::array<int, 3>{0, 60, 0}));
}

} // namespace
