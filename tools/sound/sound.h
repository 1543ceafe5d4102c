// The sound converter's core: sound text in, the driver's data out.
//
// A sound file holds blocks, each an `effect NAME` or a `song NAME`, each a
// list of steps played one after another by the driver in sound.inc; a song
// may end in `loop`, back to its start or to its `mark`. docs/sound.md
// describes the text and the driver.
//
// No files here: text in memory, a model and diagnostics out, so the command
// line, the build and a browser page share it. Other importers (MIDI) build
// a SoundFile themselves and reuse the writer.
//
// Use:
//   SoundFile file = Sound_parse(text);
//   if (!file.errors.empty()) print "NAME:LINE:COLUMN: MESSAGE" for each;
//   include = Sound_include_text(file, "sounds");  // labels sounds_NAME
//   text = Sound_text(file);                       // back to text, losslessly
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int SOUND_NOTES = 108;        // notes 0..107; 69 is A4 (440 Hz), 60 is C4
constexpr int SOUND_REST = -1;          // a step's note when it is a rest
constexpr int SOUND_MAX_LENGTH = 65535; // steps one line may last
constexpr int SOUND_MAX_SPEED = 255;    // frames per step
constexpr int SOUND_DEFAULT_SPEED = 6;  // when a block names none
constexpr int SOUND_MAX_ARP = 15;       // semitones an arpeggio offset may add
constexpr int SOUND_MAX_SLIDE = 107;    // semitones a pitch slide may move per frame
constexpr int SOUND_MAX_FADE = 255;     // volume a fade may move per frame

enum class SoundWave : uint8_t { sine, saw, square, noise }; // the APU's waveform numbers

// One line of a block. The first frame of a step plays its note, waveform
// and volume as written; every further frame of the step adds `fade` to the
// volume (held within 0..255) and `slide` to the note (held within 0..107).
// An arpeggio cycles note, note + arp1, note + arp2, one a frame.
struct SoundStep {
    int note = SOUND_REST; // 0..107, or SOUND_REST (silence)
    SoundWave wave = SoundWave::square;
    int volume = 0; // 0..255
    int length = 1; // in steps of the block's speed, 1..SOUND_MAX_LENGTH
    int fade = 0;   // -255..255, volume added each frame after the first
    int slide = 0;  // -107..107, semitones added each frame after the first
    int arp1 = 0;   // 0..15
    int arp2 = 0;   // 0..15
    int line = 0;   // where it stands in the text (1-based); 0 when made otherwise
};

enum class SoundKind : uint8_t { effect, song };

struct SoundBlock {
    SoundKind kind = SoundKind::song;
    std::string name;                // a symbol: letters, digits and '_', not starting with a digit
    int speed = SOUND_DEFAULT_SPEED; // frames per step, 1..255
    std::vector<SoundStep> steps;
    bool loop = false; // after the last step, play again from `mark`
    int mark = 0;      // the step a loop goes back to (0: the start)
    int line = 0;      // the block's first line
};

struct SoundError {
    int line = 0;   // 1-based
    int column = 0; // 1-based
    std::string message;
};

struct SoundFile {
    std::vector<SoundBlock> blocks;
    std::vector<SoundError> errors; // every problem, in order; empty when the text is good
};

// Reads sound text. Every problem goes to `errors`; the blocks are then not
// to be used.
SoundFile Sound_parse(std::string_view text);

// The text of a model, as Sound_parse reads it back to the same model (lines
// aside).
std::string Sound_text(const SoundFile& file);

// Problems of a model made by hand or by an importer (a value out of range,
// a bad or repeated name, a loop with nothing to repeat), one line each,
// naming the block. Empty when Sound_include_text may write it.
std::vector<std::string> Sound_check(const SoundFile& file);

// Assembly source for the driver: for each block a label PREFIX_NAME and its
// bytes. The model must pass Sound_check.
std::string Sound_include_text(const SoundFile& file, std::string_view prefix);

// Frames a step lasts at the block's speed.
int Sound_step_frames(const SoundBlock& block, const SoundStep& step);

// The name of a note as the text writes it: 60 is "C4", 61 "C#4", 69 "A4".
std::string Sound_note_name(int note);
