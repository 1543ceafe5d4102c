; the square at volume 0: nothing but zeros
TONE_WAVE = 2
TONE_NOTE = 69
TONE_VOLUME = 0
.include "tone.inc"
