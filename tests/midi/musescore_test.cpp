// A score written for MuseScore 3, turned into a MIDI file by MuseScore
// itself (headless), read back by the MIDI core. The score: 3/4 at a quarter
// of 120 a minute, C4, a rest, the chord E4-G4, A4 (a half), C5; then at
// a quarter of 60 D5 struck twice and a rest.
#include <gtest/gtest.h>

#include "midi.h"
#include "process.h"

TEST(MidiMuseScore, TheScoresNotesStartAtTheirFrames) {
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

    MidiMelody melody;
    ASSERT_TRUE(Midi_read(read_bytes(dir.file("song.mid")), {}, &melody)) << melody.errors[0];
    // A quarter is 31.25 frames, then from bar 3 (3 s, frame 187.5) 62.5;
    // MuseScore ends each note a pulse early.
    const std::vector<MidiNote> expected = {{0, 31, 60, 80},    {63, 94, 67, 80},   {94, 156, 69, 80},
                                            {156, 187, 72, 80}, {188, 249, 74, 80}, {250, 312, 74, 80}};
    EXPECT_EQ(melody.notes, expected);
}
