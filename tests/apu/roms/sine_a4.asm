; A 440 Hz sine at full scale
TONE_WAVE = 0
TONE_NOTE = 69
TONE_VOLUME = 255
.include "tone.inc"
