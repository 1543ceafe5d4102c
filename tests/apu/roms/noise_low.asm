; the noise at the lowest note: each table entry held for five or six samples
TONE_WAVE = 3
TONE_NOTE = 0
TONE_VOLUME = 255
.include "tone.inc"
