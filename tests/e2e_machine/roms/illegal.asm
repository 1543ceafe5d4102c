; Marks the save RAM, then runs into an opcode without an instruction at 0x0105.
.start
        JMP   mark
        .fill 2
        .byte 0x71
        HALT

mark:   LDW   p0, 0xE000
        ST    [p0], 0x77
        JMP   0x0105
