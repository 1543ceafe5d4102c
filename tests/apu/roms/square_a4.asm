; A square at full scale: only +1 and -1
TONE_WAVE = 2
TONE_NOTE = 69
TONE_VOLUME = 255
.include "tone.inc"
