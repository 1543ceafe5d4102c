; Traffic on the test port: a read before any write, writes, a read back,
; and a port that nobody answers.
TEST_PORT = 0x80
.start
        IN    r0, TEST_PORT
        LD    r1, 0x41
        OUT   TEST_PORT, r1
        IN    r2, TEST_PORT
        INC   r2
        OUT   TEST_PORT, r2
        IN    r3, 0x81
        OUT   TEST_PORT, r3
        HALT
