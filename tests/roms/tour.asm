; A tour of the machine for comparing the browser with the desktop: every
; frame it runs each instruction family over a running value, reports the
; value on the test port, keeps it in save RAM, draws it as tiles, cells,
; sprites and colours, sets the voice from it, copies a block by DMA, reads
; the pads and switches banks. It halts after 90 frames.
.include "lumacor.inc"
.vector 0, frame
.start
        LD    r0, 0x5A
        LDW   p10, VRAM_PALETTE
        LD    r6, 48
.colour: ST   [p10], r0          ; a palette that depends on the value
        ADD   r0, 37
        INCW  p10
        DEC   r6
        JNZ   .colour
        LD    r10, 0             ; frames so far
        EI
.idle:  JMP   .idle

frame:  PUSH  p0
        CALL  mix
        POP   p2
        XCHG  r2, r3
        SUBW  p2, 0x1234
        ADDW  p0, p2
        CMPW  p0, 0x8000
        JC    .low
        NOT   r0
.low:   OUT   0x80, r0
        LDW   p4, SAVE_FIRST
        LD    r8, 0
        MOV   r9, r10
        ADDW  p4, p8
        ST    [p4], r0           ; save RAM remembers each frame's value
        LDW   p4, VRAM_PLANE_A   ; tile patterns and cells from the value
        ADDW  p4, p8
        ST    [p4], r0
        LDW   p4, VRAM_TILE_MAP
        ADDW  p4, p8
        ADDW  p4, p8
        ADDW  p4, p8
        STW   [p4], p0
        LDW   p4, VRAM_SPRITES   ; sprite 0 moves with the value
        ST    [p4], r0           ; x
        INCW  p4
        STW   [p4], p0           ; y, tile
        INCW  p4
        INCW  p4
        ST    [p4], 0x5E         ; colours
        INCW  p4
        ST    [p4], 0xC0         ; visible, flipped
        LDW   p4, APU_WAVEFORM   ; the voice: a wave and note from the value
        MOV   r5, r0
        AND   r5, 3
        ST    [p4], r5
        INCW  p4
        MOV   r5, r0
        SHR   r5, 2
        ST    [p4], r5
        LDW   p4, DMA_SOURCE     ; 64 bytes of save RAM copied into video memory
        LDW   p6, SAVE_FIRST
        STW   [p4], p6
        INCW  p4
        INCW  p4
        LDW   p6, VRAM_PLANE_B
        STW   [p4], p6
        INCW  p4
        INCW  p4
        LDW   p6, 64
        STW   [p4], p6
        INCW  p4
        INCW  p4
        ST    [p4], 1
        LDW   p4, PAD1_BUTTONS
        LD    r7, [p4]
        XOR   r0, r7
        INCW  p4
        LD    r7, [p4]
        OR    r0, r7
        LDW   p4, 0x4000         ; bank 1 or 2 by the value's low bit
        MOV   r5, r0
        AND   r5, 1
        INC   r5
        ST    [p4], r5
        INC   r10
        CMP   r10, 90
        JNZ   .on
        HALT
.on:    RETI

mix:    ADD   r0, 0x3D           ; 8-bit arithmetic, logic and shifts
        SUB   r0, r10
        SHL   r0, 1
        JNC   .nc
        XOR   r0, 0xA7
.nc:    AND   r0, 0xFE
        OR    r0, r10
        CMP   r0, 0x40
        JZ    .z
        INC   r0
.z:     RET

.bank 2
        .fill 16, 0x77
