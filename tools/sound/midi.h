// Standard MIDI Files in, one melody for the machine's one voice out.
//
// No files here: the core takes the file's bytes and gives notes and
// diagnostics back, so the command line and a page can share it. Parsing is
// libsmf's (tempo map included); this module picks the voice and fits it to
// the machine's clock of 62.5 frames a second.
//
// What is taken from the file:
//   - one source of notes: a track (numbered from 1), a channel (1-16), both,
//     or by default the first track that has notes, all its channels;
//   - notes as key, velocity and the moments of their note-on and note-off;
//     a note still held at the end of its track ends there. Controllers,
//     program changes, pitch bends and the like are not read;
//   - time as the file gives it, through its tempo changes: a note that
//     starts t seconds in starts at frame round(t * 62.5), and ends likewise
//     (one frame at least);
//   - bars and beats through its time signatures (4/4 until the first), for
//     the places that diagnostics name.
//
// One voice from many notes: at every frame the voice plays the most
// recently started of the notes that are held, and of notes that start
// together (a chord) the highest. A note hidden by a later one is heard
// again, from where it has got to, when that one ends while it is still
// held, as a monophonic synthesiser's last-note priority does. A key struck
// again right where the same key ends gets a one-frame rest before it, or
// the two would sound as one long note on a voice without an envelope.
//
// The song made of it plays at one frame a step, each note and each rest one
// step that lasts as many frames as it does, so no time is rounded twice. A
// note's volume follows its velocity (127 is full, 255), or one volume set
// for all; every note takes the one waveform chosen (square by default).
//
// Use:
//   MidiMelody melody;
//   if (!Midi_read(bytes, options, &melody)) print melody.errors;
//   for (const MidiNote& n : melody.notes) ...   // in order, never overlapping
//   SoundFile file{{Midi_song(melody, options)}};
//   text = Sound_include_text(file, prefix);      // label PREFIX_song
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sound.h"

constexpr double MIDI_FRAMES_PER_SECOND = 62.5;
constexpr int MIDI_HIGHEST_NOTE = 107; // the top of the machine's note table

struct MidiOptions {
    int track = 0;   // 1 and up; 0 picks the first track with notes
    int channel = 0; // 1-16; 0 takes every channel
    SoundWave wave = SoundWave::square;
    int volume = -1;   // 0-255 for every note; -1 follows each note's velocity
    bool loop = false; // the song starts again when it ends
};

// One note of the melody, from frame `start` up to (not including) `end`,
// both counted from the start of the file.
struct MidiNote {
    int start = 0;
    int end = 0;
    uint8_t key = 0;      // 0-107
    uint8_t velocity = 0; // 1-127
    friend bool operator==(const MidiNote&, const MidiNote&) = default;
};

struct MidiMelody {
    int track = 0;               // the track the notes came from (0 when none)
    std::vector<MidiNote> notes; // in time order, never overlapping
    // One line per problem, without the file's name: "bar 3, beat 2: note
    // 110 (D8) is above the highest note the machine plays, 107 (B7)".
    std::vector<std::string> errors;
};

// True when the bytes start as a Standard MIDI File does ("MThd").
inline bool Midi_is_midi(std::span<const uint8_t> bytes) {
    return bytes.size() >= 4 && bytes[0] == 'M' && bytes[1] == 'T' && bytes[2] == 'h' && bytes[3] == 'd';
}

// Reads a Standard MIDI File and takes the melody of the voice `options`
// names. Returns false, with every problem in melody->errors, when the file
// cannot be read or the voice has no notes or a note the machine cannot play.
bool Midi_read(std::span<const uint8_t> bytes, const MidiOptions& options, MidiMelody* melody);

// The melody as the song block "song", at one frame a step: a rest up to
// the first note, then each note and each silence between notes.
SoundBlock Midi_song(const MidiMelody& melody, const MidiOptions& options);
