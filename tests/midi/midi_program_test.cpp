// lumacor-sound on MIDI files: a score written for MuseScore 3, turned into
// a MIDI file by MuseScore itself (headless), converted by lumacor-sound and
// played by the driver in the machine; and a file with problems refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "midi.h"
#include "midi_file.h"
#include "process.h"
#include "sound_driver.h"

namespace {

// The score: 3/4 at a quarter of 120 a minute, C4, a rest, the chord E4-G4,
// A4 (a half), C5; then at a quarter of 60 D5 struck twice and a rest. A
// quarter is 31.25 frames, then from bar 3 (3 s, frame 187.5) 62.5;
// MuseScore ends each note a pulse early and plays at velocity 80.
const std::vector<MidiNote> SCORE_NOTES = {{0, 31, 60, 80},    {63, 94, 67, 80},   {94, 156, 69, 80},
                                           {156, 187, 72, 80}, {188, 249, 74, 80}, {250, 312, 74, 80}};

TEST(MidiProgram, AMuseScoreScorePlaysItsNotesAtTheirFrames) {
    ASSERT_STRNE(MSCORE3_PATH, "") << "mscore3 is missing: install musescore3 (scripts/deps.sh does)";
    TempDir dir;
    // MuseScore keeps its settings under the home and runtime folders: give it fresh ones.
    ProcessOptions options{{{"QT_QPA_PLATFORM", "offscreen"},
                            {"HOME", dir.path},
                            {"XDG_CONFIG_HOME", dir.file("config")},
                            {"XDG_DATA_HOME", dir.file("data")},
                            {"XDG_RUNTIME_DIR", dir.path}},
                           120s};
    ProcessResult run = Process_run({MSCORE3_PATH, "-o", dir.file("song.mid"), SCORE_PATH}, options);
    ASSERT_TRUE(run.exited && run.exit_code == 0) << run.out << run.err;

    run =
        Process_run({LUMACOR_SOUND_PATH, dir.file("song.mid"), "-o", dir.file("song.inc"), "--wave", "saw"});
    ASSERT_TRUE(run.exited && run.exit_code == 0) << run.err;
    DriverRun driver(read_file(dir.file("song.inc")), "song_song", false);
    ASSERT_TRUE(driver.ok) << driver.error;
    for (int frame = 0; frame < 330; ++frame) {
        driver.frame();
        std::array<int, 3> expected = {1, -1, 0}; // saw; any note; silent
        for (const MidiNote& n : SCORE_NOTES)
            if (frame >= n.start && frame < n.end) expected = {1, n.key, 161};
        std::array<int, 3> registers = driver.registers();
        if (expected[1] < 0) registers[1] = -1;
        ASSERT_EQ(registers, expected) << "frame " << frame;
    }
}

TEST(MidiProgram, ProblemsAreListedAndNothingIsWritten) {
    MidiTrackWriter track;
    track.note(0, 480, 60);
    track.note(4 * 480, 480, 115);
    track.note(5 * 480, 480, 116);
    TempDir dir;
    write_bytes(dir.file("high.mid"), midi_file({track}));
    ProcessResult run = Process_run({LUMACOR_SOUND_PATH, dir.file("high.mid"), "-o", dir.file("high.inc")});
    EXPECT_EQ(run.exit_code, 1);
    std::string file = dir.file("high.mid");
    EXPECT_EQ(
        run.err,
        file + ": bar 2, beat 1: note 115 (G8) is above the highest note the machine plays, 107 (B7)\n" +
            file + ": bar 2, beat 2: note 116 (G#8) is above the highest note the machine plays, 107 (B7)\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("high.inc")));

    // MIDI options on sound text are refused.
    write_bytes(dir.file("a.snd"), {'s', 'o', 'n', 'g', ' ', 'a', '\n', '-', '-', '-', '\n'});
    run = Process_run({LUMACOR_SOUND_PATH, dir.file("a.snd"), "-o", dir.file("a.inc"), "--track", "2"});
    EXPECT_EQ(run.exit_code, 2);
}

} // namespace
