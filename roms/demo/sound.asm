; Sound: the driver (sound.inc) plays the music and effects of sounds.snd,
; which the build converts to sounds.inc; the game starts them, and the frame
; interrupt steps the driver at its end, after the game has had its say.

SND_RAM       = 0xDFE0          ; the driver's work RAM

; r7 = brick row: the sound of a brick breaking, higher for higher rows.
break_sound:
        PUSH  p2
        LDW   p2, 0
        MOV   r3, r7
        ADD   r3, r3
        LDW   p0, break_effects
        ADDW  p0, p2
        LD    r2, [p0]
        INCW  p0
        LD    r3, [p0]
        MOVW  p0, p2
        CALL  effect
        POP   p2
        RET

; p0 = an effect, played unless a jingle still plays: a jingle wins, as a
; tune always has in this game.
effect:
        PUSH  p2
        PUSH  p8
        LDW   p8, SND_EFFECT
        LD    r2, [p8]
        CMP   r2, 0
        JZ    .play             ; nothing plays
        CMP   r(V_JINGLE), 0
        JNZ   .done
.play:  LD    r(V_JINGLE), 0
        CALL  snd_effect
.done:  POP   p8
        POP   p2
        RET

; p0 = a jingle: an effect that others do not cut short.
jingle:
        LD    r(V_JINGLE), 1
        JMP   snd_effect

break_effects:
        .word sfx_break0, sfx_break1, sfx_break2, sfx_break3, sfx_break4, sfx_break5
        .assert BRICK_ROWS == 6, "one breaking sound per brick row"

        .include "sound.inc"
        .include "sounds.inc"
