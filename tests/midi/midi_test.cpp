// MIDI import: files written here, read by the core, the melody's frames
// checked against times worked out by hand (62.5 frames a second).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "midi.h"
#include "midi_file.h"

namespace {

constexpr int Q = 480; // pulses per quarter note; at 120 a minute a quarter is 31.25 frames

MidiMelody read(const std::vector<uint8_t>& bytes, MidiOptions options = {}) {
    MidiMelody melody;
    bool ok = Midi_read(bytes, options, &melody);
    EXPECT_EQ(ok, melody.errors.empty());
    return melody;
}

struct MelodyCase {
    const char* what;
    std::function<std::vector<MidiTrackWriter>()> tracks;
    MidiOptions options;
    std::vector<MidiNote> expected; // start, end, key, velocity
};

TEST(MidiMelody, FramesFollowTheFilesTime) {
    const MelodyCase cases[] = {
        {"a quarter at 120 ends at 31.25 -> 31; the next at 0.75 s ends at 46.875 -> 47",
         [] {
             MidiTrackWriter t;
             t.note(0, Q, 60, 90);
             t.note(Q, Q / 2, 62, 40);
             return std::vector{t};
         },
         {},
         {{0, 31, 60, 90}, {31, 47, 62, 40}}},
        {"a leading rest and a gap stay silent",
         [] {
             MidiTrackWriter t;
             t.note(Q, Q / 2, 60);
             t.note(3 * Q, Q / 4, 64);
             return std::vector{t};
         },
         {},
         {{31, 47, 60, 100}, {94, 102, 64, 100}}},
        {"a chord gives its highest note",
         [] {
             MidiTrackWriter t;
             for (int key : {64, 72, 60}) t.note(0, Q, key);
             t.note(Q, Q, 50);
             return std::vector{t};
         },
         {},
         {{0, 31, 72, 100}, {31, 63, 50, 100}}},
        {"a later note takes over; a longer one under it sounds again when it ends",
         [] {
             MidiTrackWriter t;
             t.note(0, 4 * Q, 48);
             t.note(Q, Q, 40);
             return std::vector{t};
         },
         {},
         {{0, 31, 48, 100}, {31, 63, 40, 100}, {63, 125, 48, 100}}},
        {"a key struck again gets a frame's rest before it",
         [] {
             MidiTrackWriter t;
             t.note(0, Q - 1, 60);
             t.note(Q, Q, 60);
             return std::vector{t};
         },
         {},
         {{0, 30, 60, 100}, {31, 63, 60, 100}}},
        {"a key struck again while it sounds ends it there",
         [] {
             MidiTrackWriter t;
             t.note(0, 2 * Q, 60);
             t.note(Q, 2 * Q, 60); // its note-off comes first, and ends it
             return std::vector{t};
         },
         {},
         {{0, 30, 60, 100}, {31, 63, 60, 100}}},
        {"a very short note lasts a frame",
         [] {
             MidiTrackWriter t;
             t.note(0, 1, 60);
             return std::vector{t};
         },
         {},
         {{0, 1, 60, 100}}},
        {"tempo changes: 120 for a bar (2 s), then 60 (a quarter is 1 s), then 240",
         [] {
             MidiTrackWriter conductor, t;
             conductor.tempo(0, 500000);
             conductor.tempo(4 * Q, 1000000);
             conductor.tempo(6 * Q, 250000);
             t.note(3 * Q, Q, 60);     // 1.5 s .. 2 s
             t.note(5 * Q, Q, 62);     // 3 s .. 4 s
             t.note(6 * Q, 2 * Q, 64); // 4 s .. 4.5 s
             return std::vector{conductor, t};
         },
         {},
         {{94, 125, 60, 100}, {188, 250, 62, 100}, {250, 281, 64, 100}}},
        {"by default the first track with notes",
         [] {
             MidiTrackWriter conductor, a, b;
             conductor.tempo(0, 500000);
             a.note(0, Q, 60);
             b.note(0, Q, 70);
             return std::vector{conductor, a, b};
         },
         {},
         {{0, 31, 60, 100}}},
        {"--track picks a track",
         [] {
             MidiTrackWriter a, b;
             a.note(0, Q, 60);
             b.note(0, Q, 70);
             return std::vector{a, b};
         },
         {.track = 2},
         {{0, 31, 70, 100}}},
        {"--channel gathers that channel from every track",
         [] {
             MidiTrackWriter a, b;
             a.note(0, Q, 80, 100, 0);
             a.note(0, Q, 60, 100, 3);
             b.note(Q, Q, 61, 100, 3);
             return std::vector{a, b};
         },
         {.channel = 4},
         {{0, 31, 60, 100}, {31, 63, 61, 100}}},
        {"--track and --channel together",
         [] {
             MidiTrackWriter a, b;
             a.note(0, Q, 60, 100, 1);
             b.note(0, Q, 80, 100, 0);
             b.note(Q, Q, 62, 100, 1);
             return std::vector{a, b};
         },
         {.track = 2, .channel = 2},
         {{31, 63, 62, 100}}},
    };
    for (const MelodyCase& c : cases) {
        SCOPED_TRACE(c.what);
        MidiMelody melody = read(midi_file(c.tracks()), c.options);
        EXPECT_EQ(melody.notes, c.expected);
    }
}

TEST(MidiMelody, ProblemsAreNamed) {
    MidiTrackWriter plain;
    plain.note(0, Q, 60);
    MidiTrackWriter high; // 4/4, then 3/4 from bar 3, then 6/8 from bar 4
    high.signature(8 * Q, 3, 2);
    high.signature(11 * Q, 6, 3);
    high.note(6 * Q, Q, 108);          // bar 2, beat 3
    high.note(9 * Q + Q / 2, Q, 120);  // bar 3, beat 2.5
    high.note(11 * Q + Q / 2, Q, 110); // bar 4, beat 2 (eighths)
    high.note(14 * Q, Q, 107);         // the highest note plays
    MidiTrackWriter midbar;            // 3/4 from the middle of the first bar starts bar 2
    midbar.signature(2 * Q, 3, 2);
    midbar.note(5 * Q, Q, 110);
    auto damaged = [&](auto change) {
        std::vector<uint8_t> bytes = midi_file({plain});
        change(bytes);
        return bytes;
    };
    const std::string damage = "the MIDI file is damaged: ";
    const struct {
        std::vector<uint8_t> bytes;
        MidiOptions options;
        std::vector<std::string> errors;
    } cases[] = {
        {midi_file({high}),
         {},
         {"bar 2, beat 3: note 108 (C8) is above the highest note the machine plays, 107 (B7)",
          "bar 3, beat 2.5: note 120 (C9) is above the highest note the machine plays, 107 (B7)",
          "bar 4, beat 2: note 110 (D8) is above the highest note the machine plays, 107 (B7)"}},
        {midi_file({midbar}),
         {},
         {"bar 3, beat 1: note 110 (D8) is above the highest note the machine plays, 107 (B7)"}},
        {midi_file({plain}), {.track = 3}, {"there is no track 3: the file has 1"}},
        {midi_file({plain}), {.channel = 2}, {"no track has notes on channel 2"}},
        {midi_file({plain, MidiTrackWriter{}}), {.track = 2}, {"track 2 has no notes"}},
        {{'R', 'I', 'F', 'F', 0, 0}, {}, {"not a Standard MIDI File (it does not start with \"MThd\")"}},
        {damaged([](auto& b) { b.resize(20); }), {}, {damage + "a chunk is cut short"}},
        {damaged([](auto& b) { b.resize(b.size() - 1); }), {}, {damage + "chunk 1 is cut short"}},
        {damaged([](auto& b) { b[11] = 2; }), {}, {damage + "its header announces 2 tracks but it holds 1"}},
        {damaged([](auto& b) { b[12] = 0xE7; }),
         {},
         {damage + "it counts time in SMPTE frames; only files in beats are read"}},
        {damaged([](auto& b) { b[23] = 0x00; }),
         {},
         {damage + "track 1: a data byte comes without a status byte"}},
        {damaged([](auto& b) { b.insert(b.end() - 4, 0x80); }),
         {},
         {damage + "track 1: an event is cut short"}},
    };
    for (const auto& c : cases) {
        MidiMelody melody = read(c.bytes, c.options);
        EXPECT_EQ(melody.errors, c.errors);
        EXPECT_TRUE(melody.notes.empty());
    }
}

} // namespace

namespace {

TEST(MidiSong, OneFrameAStepWithRestsBetween) {
    MidiMelody melody;
    melody.notes = {{10, 20, 60, 127}, {20, 25, 62, 64}, {30, 30 + SOUND_MAX_LENGTH + 4, 64, 1}};
    SoundBlock song = Midi_song(melody, {});
    auto step = [](int note, int volume, int length) {
        SoundStep s;
        s.note = note;
        s.volume = volume;
        s.length = length;
        return s;
    };
    const SoundStep expected[] = {
        step(SOUND_REST, 0, 10),       step(60, 255, 10), step(62, 129, 5), step(SOUND_REST, 0, 5),
        step(64, 2, SOUND_MAX_LENGTH), step(64, 2, 4)};
    ASSERT_EQ(song.steps.size(), std::size(expected));
    for (size_t i = 0; i < song.steps.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(song.steps[i].note, expected[i].note);
        EXPECT_EQ(song.steps[i].volume, expected[i].volume);
        EXPECT_EQ(song.steps[i].length, expected[i].length);
        EXPECT_EQ(song.steps[i].wave, SoundWave::square);
    }
    EXPECT_EQ(song.name, "song");
    EXPECT_EQ(song.speed, 1);
    EXPECT_FALSE(song.loop);
    EXPECT_TRUE(Sound_check(SoundFile{{song}, {}}).empty());

    song = Midi_song(melody, {.wave = SoundWave::saw, .volume = 77, .loop = true});
    EXPECT_TRUE(song.loop);
    EXPECT_EQ(song.steps[2].volume, 77);
    EXPECT_EQ(song.steps[2].wave, SoundWave::saw);
}

} // namespace
