; Counts frame interrupts and stops once FRAMES of them were taken, telling
; the count on the test port.
FRAMES = 30
TEST_PORT = 0x80

.vector 0, frame
.start
main:
        LD    r0, 0
        EI
.idle:  JMP   .idle

frame:  INC   r0
        CMP   r0, FRAMES
        JZ    .done
        RETI
.done:  OUT   TEST_PORT, r0
        HALT
