// MIDI import: files written here, read by the core, the melody's frames
// checked against times worked out by hand (62.5 frames a second).
#include <gtest/gtest.h>

#include "midi.h"
#include "midi_file.h"

namespace {

constexpr int Q = 480; // pulses per quarter note; at 120 a minute a quarter is 31.25 frames
const std::string TOO_HIGH = " is above the highest note the machine plays, 107 (B7)";

struct Note {
    int track, at, length, key, channel = 0, velocity = 100;
};

// Track 1 is the conductor (tempo and time signatures); notes go to theirs.
std::vector<uint8_t> file_of(const std::vector<Note>& notes, MidiTrackWriter conductor = {}) {
    std::vector<MidiTrackWriter> tracks{conductor};
    for (const Note& n : notes) {
        tracks.resize(std::max<size_t>(tracks.size(), n.track));
        tracks[n.track - 1].note(n.at, n.length, n.key, n.velocity, n.channel);
    }
    return midi_file(tracks);
}

MidiMelody read(const std::vector<uint8_t>& bytes, MidiOptions options = {}) {
    MidiMelody melody;
    bool ok = Midi_read(bytes, options, &melody);
    EXPECT_EQ(ok, melody.errors.empty());
    return melody;
}

TEST(MidiMelody, FramesFollowTheFilesTime) {
    MidiTrackWriter tempos; // 120 for a bar (2 s), then 60 (a quarter is 1 s), then 240
    tempos.tempo(4 * Q, 1000000);
    tempos.tempo(6 * Q, 250000);
    const struct {
        const char* what;
        std::vector<Note> notes;
        std::vector<MidiNote> expected; // start, end, key, velocity
        MidiOptions options{};
        MidiTrackWriter conductor{};
    } cases[] = {
        {"31.25 -> 31, 46.875 -> 47",
         {{2, 0, Q, 60, 0, 90}, {2, Q, Q / 2, 62, 0, 40}},
         {{0, 31, 60, 90}, {31, 47, 62, 40}}},
        {"rests stay silent",
         {{2, Q, Q / 2, 60}, {2, 3 * Q, Q / 4, 64}},
         {{31, 47, 60, 100}, {94, 102, 64, 100}}},
        {"a chord gives its highest note",
         {{2, 0, Q, 64}, {2, 0, Q, 72}, {2, 0, Q, 60}, {2, Q, Q, 50}},
         {{0, 31, 72, 100}, {31, 63, 50, 100}}},
        {"a later note takes over; one held under it sounds again",
         {{2, 0, 4 * Q, 48}, {2, Q, Q, 40}},
         {{0, 31, 48, 100}, {31, 63, 40, 100}, {63, 125, 48, 100}}},
        {"a key struck again gets a frame's rest",
         {{2, 0, Q - 1, 60}, {2, Q, Q, 60}},
         {{0, 30, 60, 100}, {31, 63, 60, 100}}},
        {"struck again while it sounds",
         {{2, 0, 2 * Q, 60}, {2, Q, 2 * Q, 60}},
         {{0, 30, 60, 100}, {31, 63, 60, 100}}},
        {"a very short note lasts a frame", {{2, 0, 1, 60}}, {{0, 1, 60, 100}}},
        {"by default the first track with notes", {{2, 0, Q, 60}, {3, 0, Q, 70}}, {{0, 31, 60, 100}}},
        {"--track", {{2, 0, Q, 60}, {3, 0, Q, 70}}, {{0, 31, 70, 100}}, {.track = 3}},
        {"--channel, from every track",
         {{2, 0, Q, 80}, {2, 0, Q, 60, 3}, {3, Q, Q, 61, 3}},
         {{0, 31, 60, 100}, {31, 63, 61, 100}},
         {.channel = 4}},
        {"--track and --channel",
         {{2, 0, Q, 60, 1}, {3, 0, Q, 80}, {3, Q, Q, 62, 1}},
         {{31, 63, 62, 100}},
         {.track = 3, .channel = 2}},
        {"tempo changes",
         {{2, 3 * Q, Q, 60}, {2, 5 * Q, Q, 62}, {2, 6 * Q, 2 * Q, 64}},
         {{94, 125, 60, 100}, {188, 250, 62, 100}, {250, 281, 64, 100}},
         {},
         tempos},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(read(file_of(c.notes, c.conductor), c.options).notes, c.expected);
    }
}

TEST(MidiMelody, ProblemsAreNamed) {
    MidiTrackWriter signatures; // 4/4, then 3/4 from bar 3, then 6/8 from bar 4
    signatures.signature(8 * Q, 3, 2);
    signatures.signature(11 * Q, 6, 3);
    MidiTrackWriter midbar; // 3/4 from the middle of bar 1 starts bar 2
    midbar.signature(2 * Q, 3, 2);
    auto damaged = [](auto change) {
        std::vector<uint8_t> bytes = midi_file({MidiTrackWriter{{{0, {0x90, 60, 90}}}}});
        change(bytes);
        return bytes;
    };
    const std::string damage = "the MIDI file is damaged: ";
    const struct {
        std::vector<uint8_t> bytes;
        std::vector<std::string> errors;
        MidiOptions options{};
    } cases[] = {
        {file_of({{2, 6 * Q, Q, 108},
                  {2, 9 * Q + Q / 2, Q, 120},
                  {2, 11 * Q + Q / 2, Q, 110},
                  {2, 14 * Q, Q, 107}},
                 signatures),
         {"bar 2, beat 3: note 108 (C8)" + TOO_HIGH, "bar 3, beat 2.5: note 120 (C9)" + TOO_HIGH,
          "bar 4, beat 2: note 110 (D8)" + TOO_HIGH}},
        {file_of({{2, 5 * Q, Q, 110}}, midbar), {"bar 3, beat 1: note 110 (D8)" + TOO_HIGH}},
        {file_of({{2, 0, Q, 60}}), {"there is no track 4: the file has 2"}, {.track = 4}},
        {file_of({{2, 0, Q, 60}}), {"track 1 has no notes"}, {.track = 1}},
        {file_of({{2, 0, Q, 60}}), {"no track has notes on channel 2"}, {.channel = 2}},
        {{'R', 'I', 'F', 'F', 0, 0}, {"not a Standard MIDI File (it does not start with \"MThd\")"}},
        {damaged([](auto& b) { b.resize(20); }), {damage + "a chunk is cut short"}},
        {damaged([](auto& b) { b.pop_back(); }), {damage + "chunk 1 is cut short"}},
        {damaged([](auto& b) { b[11] = 2; }), {damage + "its header announces 2 tracks but it holds 1"}},
        {damaged([](auto& b) { b[12] = 0xE7; }),
         {damage + "it counts time in SMPTE frames; only files in beats are read"}},
        {damaged([](auto& b) { b[23] = 0x00; }),
         {damage + "track 1: a data byte comes without a status byte"}},
        {damaged([](auto& b) { b.insert(b.end() - 4, 0x80); }), {damage + "track 1: an event is cut short"}},
    };
    for (const auto& c : cases) {
        MidiMelody melody = read(c.bytes, c.options);
        EXPECT_EQ(melody.errors, c.errors);
        EXPECT_TRUE(melody.notes.empty());
    }
}

TEST(MidiSong, OneFrameAStepWithRestsBetween) {
    MidiMelody melody;
    melody.notes = {{10, 20, 60, 127}, {20, 25, 62, 64}, {30, 30 + SOUND_MAX_LENGTH + 4, 64, 1}};
    SoundBlock song = Midi_song(melody, {});
    std::vector<std::array<int, 4>> steps; // note, volume, length, waveform
    for (const SoundStep& s : song.steps) steps.push_back({s.note, s.volume, s.length, int(s.wave)});
    const int R = SOUND_REST, SQUARE = int(SoundWave::square);
    EXPECT_EQ(steps, (std::vector<std::array<int, 4>>{{R, 0, 10, SQUARE},
                                                      {60, 255, 10, SQUARE},
                                                      {62, 129, 5, SQUARE},
                                                      {R, 0, 5, SQUARE},
                                                      {64, 2, SOUND_MAX_LENGTH, SQUARE},
                                                      {64, 2, 4, SQUARE}}));
    EXPECT_TRUE(song.name == "song" && song.speed == 1 && !song.loop);
    EXPECT_TRUE(Sound_check(SoundFile{{song}, {}}).empty());

    song = Midi_song(melody, {.wave = SoundWave::saw, .volume = 77, .loop = true});
    EXPECT_TRUE(song.loop && song.steps[2].volume == 77 && song.steps[2].wave == SoundWave::saw);
}

} // namespace
