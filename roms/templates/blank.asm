; Blank: lumacor.inc, a frame interrupt and a main loop.
        .include "lumacor.inc"
        .vector FRAME_VECTOR, frame

frames  = RAM_FIRST             ; counts frames, one byte

        .start
        ; Set up: colour 0 a dark blue, and tile 0 solid, so every cell of
        ; the map (all tile 0 at start) shows it.
        LDW   p0, VRAM_PALETTE
        ST    [p0], 0x50        ; blue
        INCW  p0
        ST    [p0], 0x20        ; green
        INCW  p0
        ST    [p0], 0x10        ; red
        LDW   p0, VRAM_PLANE_B
        LD    r2, TILE_SIZE
.solid: ST    [p0], 0xFF
        INCW  p0
        DEC   r2
        JNZ   .solid
        EI

main:   CALL  wait_frame
        ; The game's work for one frame goes here.
        JMP   main

; Waits until the frame interrupt has counted the next frame.
wait_frame:
        LDW   p0, frames
        LD    r2, [p0]
.wait:  LD    r3, [p0]
        CMP   r3, r2
        JZ    .wait
        RET

; The frame interrupt, after each picture: counts it. An interrupt keeps
; FLAGS (in p10) and every register it uses.
frame:  PUSH  p10
        PUSH  p8
        LDW   p8, frames
        LD    r10, [p8]
        INC   r10
        ST    [p8], r10
        POP   p8
        POP   p10
        RETI
