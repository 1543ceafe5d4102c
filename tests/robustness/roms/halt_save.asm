; Writes "SAVED" at the start of save RAM and stops.
.start
        LDW   p2, 0xE000
        LDW   p4, signature
.copy:  LD    r0, [p4]
        CMP   r0, 0
        JZ    .done
        ST    [p2], r0
        INCW  p2
        INCW  p4
        JMP   .copy
.done:  HALT

signature:
        .asciz "SAVED"
