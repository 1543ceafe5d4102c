; a note past the table: silence
TONE_WAVE = 0
TONE_NOTE = 200
TONE_VOLUME = 255
.include "tone.inc"
