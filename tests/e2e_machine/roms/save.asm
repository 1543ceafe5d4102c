; Tells the first save byte on the test port, then increments it and marks
; the last save byte, so each run leaves a trace for the next one.
TEST_PORT = 0x80
.start
        LDW   p2, 0xE000
        LD    r0, [p2]
        OUT   TEST_PORT, r0
        INC   r0
        ST    [p2], r0
        LDW   p2, 0xEFFF
        ST    [p2], 0x5A
        HALT
