; Reports the first 16 bytes of save RAM on the test port, then writes
; "SAVED" over its start and stops.
.start
        LDW   p2, 0xE000
.echo:  LD    r0, [p2]
        OUT   0x80, r0
        INCW  p2
        CMPW  p2, 0xE010
        JNZ   .echo
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
