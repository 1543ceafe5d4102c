// The MIDI core of a build made without libsmf: every file is refused, with
// the reason, so the tools around it need no second path.
#include "midi.h"

bool Midi_read(std::span<const uint8_t>, const MidiOptions&, MidiMelody* melody) {
    *melody = MidiMelody{};
    melody->errors.push_back(
        "this build reads no MIDI files: libsmf (libsmf-dev) was missing when it was built");
    return false;
}
