; Marks the save RAM and then runs until it is told to quit.
.start
        LDW   p0, 0xE000
        ST    [p0], 0x99
.loop:  JMP   .loop
