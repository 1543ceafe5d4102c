; Runs until stopped, showing one colour over the whole picture that the
; frame interrupt changes every frame.
.vector 0, frame
.start
main:   LDW   p2, 0x8800        ; tile 0 covers every texel of its cells
        LD    r1, 8
.fill:  ST    [p2], 0xFF
        INCW  p2
        DEC   r1
        JNZ   .fill
        LDW   p4, 0x99C8        ; colour 0, which every cell shows
        LD    r0, 0
        EI
.idle:  JMP   .idle

frame:  INC   r0
        ST    [p4], r0
        RETI
