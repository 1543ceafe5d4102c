; The program the adapter's tests debug: calls, the frame interrupt, the
; test port, a DMA copy, a bank switch and a few frames of waiting.
COUNTER = 0xA000
TARGET  = 0xA010
FRAMES  = 0xA020

.vector 0, frame
.start
main:   LD    r0, 0
        LDW   p2, COUNTER
        EI

.loop:  CALL  bump
        OUT   0x80, r0
        CMP   r0, 5
        JNZ   .loop
        CALL  copy
        LD    r1, 2
        LDW   p4, 0x4000
        ST    [p4], r1
        CALL  far
        LD    r1, 1
        ST    [p4], r1
        LDW   p8, FRAMES
.wait:  LD    r5, [p8]
        CMP   r5, 3
        JC    .wait
        HALT

bump:   INC   r0
        CALL  store
        RET

store:  ST    [p2], r0
        RET

copy:   LDW   p4, 0xFF00
        LDW   p6, source
        STW   [p4], p6
        LDW   p4, 0xFF02
        LDW   p6, TARGET
        STW   [p4], p6
        LDW   p4, 0xFF04
        LDW   p6, 1
        STW   [p4], p6
        LDW   p4, 0xFF06
        ST    [p4], 1
        RET

frame:  PUSH  p10
        PUSH  p8
        LDW   p8, FRAMES
        LD    r10, [p8]
        INC   r10
        ST    [p8], r10
        POP   p8
        POP   p10
        RETI

source: .byte 0x5A

.bank 2
far:    LD    r3, 7
        RET
