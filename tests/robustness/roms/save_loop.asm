; Writes "SAVED" at the start of save RAM, then runs forever; every frame it
; counts in save RAM byte 0x10 and reports the count on the test port, so the
; last count printed is the last value the save RAM held.
SAVE = 0xE000
COUNTER = SAVE + 0x10

.vector 0, frame
.start
        LDW   p2, SAVE
        LDW   p4, signature
.copy:  LD    r0, [p4]
        CMP   r0, 0
        JZ    .done
        ST    [p2], r0
        INCW  p2
        INCW  p4
        JMP   .copy
.done:  EI
.forever:
        JMP   .forever

frame:  LDW   p6, COUNTER
        LD    r8, [p6]
        INC   r8
        ST    [p6], r8
        OUT   0x80, r8
        RETI

signature:
        .asciz "SAVED"
