// The melody as a song block: no MIDI library needed, so every build has it.
#include <algorithm>

#include "midi.h"

SoundBlock Midi_song(const MidiMelody& melody, const MidiOptions& options) {
    SoundBlock song;
    song.kind = SoundKind::song;
    song.name = "song";
    song.speed = 1;
    song.loop = options.loop;
    // A step lasts at most SOUND_MAX_LENGTH frames; a longer note or rest
    // goes on in further steps of the same.
    auto add = [&](SoundStep step, int frames) {
        for (; frames > 0; frames -= SOUND_MAX_LENGTH) {
            step.length = std::min(frames, SOUND_MAX_LENGTH);
            song.steps.push_back(step);
        }
    };
    int now = 0;
    for (const MidiNote& note : melody.notes) {
        add(SoundStep{}, note.start - now);
        SoundStep step;
        step.note = note.key;
        step.wave = options.wave;
        step.volume = options.volume >= 0 ? options.volume : (note.velocity * 255 + 63) / 127;
        add(step, note.end - note.start);
        now = note.end;
    }
    return song;
}
