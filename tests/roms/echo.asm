; Copies the two controller bytes into the first two bytes of save RAM, over
; and over, so a test sees through the save RAM which buttons the machine
; reads. The picture shows pad 0's byte too: tile 0, in every cell, is made
; solid, and pad 0's byte is the blue of colour 0.
PAD0    = 0xFF0A
STORAGE = 0xE000
PLANE_B = 0x8800
PALETTE = 0x99C8

.start
main:   LDW   p2, PLANE_B
        LD    r5, 8
.fill:  ST    [p2], 0xFF
        INCW  p2
        DEC   r5
        JNZ   .fill
loop:   LDW   p0, PAD0
        LDW   p2, STORAGE
        LDW   p6, PALETTE
        LD    r4, [p0]
        ST    [p2], r4
        ST    [p6], r4
        INCW  p0
        INCW  p2
        LD    r4, [p0]
        ST    [p2], r4
        JMP   loop
