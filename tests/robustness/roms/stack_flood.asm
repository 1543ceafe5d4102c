; Pushes 300 words, far past the 256-byte stack page, and pops them again;
; then calls itself 300 levels deep and returns all the way. Reports 0x5A
; after the pushes and pops and 0xA5 after the calls, then stops.
.start
        LDW   p2, 300
.push:  PUSH  0x1234
        PUSH  p2
        DECW  p2
        CMPW  p2, 0
        JNZ   .push
        LDW   p2, 300
.pop:   POP   p4
        POP   p4
        DECW  p2
        CMPW  p2, 0
        JNZ   .pop
        LD    r0, 0x5A
        OUT   0x80, r0
        LDW   p2, 300
        CALL  deeper
        LD    r0, 0xA5
        OUT   0x80, r0
        HALT

deeper: DECW  p2
        CMPW  p2, 0
        JZ    .back
        CALL  deeper
.back:  RET
