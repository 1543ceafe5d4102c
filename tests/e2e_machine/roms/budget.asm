; Counts loop rounds of two instructions through the first frame and tells
; the count on the test port when the frame interrupt comes: two set-up
; instructions and 8332 rounds make the frame's 16,666.
TEST_PORT = 0x80

.vector 0, frame
.start
        LDW   p2, 0
        EI
.loop:  INCW  p2
        JMP   .loop

frame:  OUT   TEST_PORT, r2
        OUT   TEST_PORT, r3
        HALT
