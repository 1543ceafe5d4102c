; Reports once on the test port, then runs into an opcode without an instruction.
.start
        LD    r0, 0x11
        OUT   0x80, r0
        .byte 0x71
        HALT
