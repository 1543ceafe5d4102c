; Writes a mark into save RAM and then never stops.
.start
        LDW   p0, 0xE000
        ST    [p0], 0x5A
.loop:  JMP   .loop
