// Damaged MIDI files through the import: each is refused with a reason or
// gives a melody the driver can play, for the default voice and for one
// picked by track and channel; nothing may crash, leak or read out of bounds.
#include <cstdint>
#include <span>

#include "midi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (MidiOptions options : {MidiOptions{}, MidiOptions{.track = 2, .channel = 10}}) {
        MidiMelody melody;
        if (!Midi_read(std::span(data, size), options, &melody)) {
            if (melody.errors.empty() || !melody.notes.empty()) __builtin_trap(); // a refusal says why
            continue;
        }
        int now = 0;
        for (const MidiNote& note : melody.notes) {
            if (note.start < now || note.end <= note.start || note.key > MIDI_HIGHEST_NOTE) __builtin_trap();
            now = note.end;
        }
        SoundFile file{{Midi_song(melody, options)}, {}};
        if (!Sound_check(file).empty()) __builtin_trap();
        Sound_include_text(file, "fuzz");
    }
    return 0;
}
