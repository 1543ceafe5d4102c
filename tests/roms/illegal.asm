; Runs two instructions, then an opcode without an instruction.
.start
main:   LD    r0, 1
        LD    r1, 2
        .byte 0x71
        HALT
