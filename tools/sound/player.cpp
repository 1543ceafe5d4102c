// The smallest player program, apart from the machine that runs it, so a
// page that runs its own machine builds the very same program.
#include "preview.h"

std::string Sound_player_source(const std::string& label, bool effect) {
    return "; Plays one sound: the smallest player.\n"
           "        .include \"lumacor.inc\"\n"
           "SND_RAM = 0xDFE0\n"
           "        .vector 0, frame\n"
           "        .start\n"
           "        CALL  snd_init\n"
           "        LDW   p0, " +
           label + "\n" + (effect ? "        CALL  snd_effect\n" : "        CALL  snd_music\n") +
           "        EI\n"
           "idle:   JMP   idle\n"
           "frame:  CALL  snd_frame\n"
           "        RETI\n"
           "        .include \"sound.inc\"\n"
           "        .include \"sounds.inc\"\n";
}
