; Sound: one voice shared by short effects and tunes; a tune wins over effects.

SFX_VOLUME    = 150
TUNE_VOLUME   = 120
TUNE_END      = 0xFF

; r0 = waveform, r1 = note, r2 = frames to sound.
sfx:
        CMP   r(V_TUNE_ON), 0
        JNZ   .done
        LDW   p8, APU_WAVEFORM
        ST    [p8], r0
        INCW  p8
        ST    [p8], r1
        INCW  p8
        ST    [p8], SFX_VOLUME
        MOV   r(V_SFX), r2
.done:  RET

; p2 = tune: a waveform byte, then note and frames pairs (note 0 is a rest),
; then TUNE_END.
play_tune:
        LD    r0, [p2]
        LDW   p8, APU_WAVEFORM
        ST    [p8], r0
        INCW  p2
        MOV   r(V_TUNE_HI), r2
        MOV   r(V_TUNE_LO), r3
        LD    r(V_TUNE_ON), 1
        LD    r(V_TUNE_LEFT), 1
        LD    r(V_SFX), 0
        RET

silence:
        LDW   p8, APU_VOLUME
        ST    [p8], 0
        RET

; Once a frame: moves the tune on, or ends the effect when its time is up.
sound_update:
        CMP   r(V_TUNE_ON), 0
        JZ    .effect
        DEC   r(V_TUNE_LEFT)
        JNZ   .done
        MOV   r8, r(V_TUNE_HI)
        MOV   r9, r(V_TUNE_LO)
        LD    r0, [p8]
        CMP   r0, TUNE_END
        JZ    .end
        INCW  p8
        LD    r1, [p8]
        INCW  p8
        MOV   r(V_TUNE_HI), r8
        MOV   r(V_TUNE_LO), r9
        MOV   r(V_TUNE_LEFT), r1
        CMP   r0, 0
        JZ    silence
        LDW   p8, APU_NOTE
        ST    [p8], r0
        INCW  p8
        ST    [p8], TUNE_VOLUME
        RET
.end:   LD    r(V_TUNE_ON), 0
        JMP   silence
.effect:
        CMP   r(V_SFX), 0
        JZ    .done
        DEC   r(V_SFX)
        JZ    silence
.done:  RET

tune_start:
        .byte WAVE_SQUARE
        .byte 60, 6, 64, 6, 67, 6, 72, 10, 0, 4, 67, 5, 72, 16
        .byte TUNE_END
tune_clear:
        .byte WAVE_SQUARE
        .byte 72, 5, 76, 5, 79, 5, 84, 5, 79, 5, 84, 20
        .byte TUNE_END
tune_over:
        .byte WAVE_SAW
        .byte 67, 12, 0, 2, 64, 12, 0, 2, 60, 12, 0, 2, 55, 30
        .byte TUNE_END
tune_high:
        .byte WAVE_SQUARE
        .byte 72, 6, 0, 2, 72, 6, 0, 2, 72, 6, 76, 12, 79, 12, 84, 30
        .byte TUNE_END
