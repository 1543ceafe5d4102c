// The smallest player program, apart from the machine that runs it, so a
// page that runs its own machine builds the very same program.
#include "preview.h"

std::string Sound_player_source(const std::string& label, bool effect) {
    return "; The smallest player: starts one sound, then steps the driver once a frame.\n"
           "        .include \"lumacor.inc\"\n"
           "SND_RAM = 0xDFE0                ; the driver's work RAM\n"
           "        .vector 0, frame\n"
           "        .start\n"
           "        CALL  snd_init\n"
           "        LDW   p0, " +
           label + "\n" + (effect ? "        CALL  snd_effect\n" : "        CALL  snd_music\n") +
           "        EI                      ; frame interrupts on\n"
           "idle:   JMP   idle\n"
           "frame:  CALL  snd_frame\n"
           "        RETI\n"
           "        .include \"sound.inc\"     ; the driver\n"
           "        .include \"sounds.inc\"    ; the data lumacor-sound wrote\n";
}
