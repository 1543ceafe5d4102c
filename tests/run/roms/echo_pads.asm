; At every frame interrupt: writes the two controller bytes to the test port,
; pad 0 (0xFF0A) first. Never stops.
.vector 0, frame
.start
        EI
.loop:  JMP   .loop

frame:  LDW   p0, 0xFF0A
        LD    r2, [p0]
        OUT   0x80, r2
        INCW  p0
        LD    r2, [p0]
        OUT   0x80, r2
        RETI
