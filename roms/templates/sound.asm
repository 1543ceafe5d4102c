; Sound: a looping tune, with an effect over it when A is pressed.
        .include "lumacor.inc"
SND_RAM = 0xDFE0                ; the driver's work RAM: the last 32 bytes
        .vector FRAME_VECTOR, frame

held    = RAM_FIRST             ; the buttons held last frame

        .start
        ; Colour 0 a dark green, and tile 0 solid, so the screen shows it.
        LDW   p0, VRAM_PALETTE
        ST    [p0], 0x10        ; blue
        INCW  p0
        ST    [p0], 0x40        ; green
        INCW  p0
        ST    [p0], 0x10        ; red
        LDW   p0, VRAM_PLANE_B
        LD    r2, TILE_SIZE
.solid: ST    [p0], 0xFF
        INCW  p0
        DEC   r2
        JNZ   .solid
        CALL  snd_init
        LDW   p0, sounds_tune
        CALL  snd_music
        EI

main:   JMP   main

; Once a frame: the driver's step, and the effect on a new press of A.
frame:  PUSH  p0
        PUSH  p2
        CALL  snd_frame
        LDW   p2, PAD1_BUTTONS
        LD    r0, [p2]
        LDW   p2, held
        LD    r1, [p2]
        ST    [p2], r0
        XOR   r1, 0xFF          ; the buttons that were up last frame
        AND   r0, r1
        AND   r0, PAD_A
        JZ    .done
        LDW   p0, sounds_jump
        CALL  snd_effect
.done:  POP   p2
        POP   p0
        RETI

        .include "sound.inc"    ; the driver
        .include "sounds.inc"   ; made from sounds.snd when the game is built
