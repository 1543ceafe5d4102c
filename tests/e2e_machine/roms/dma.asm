; Starts a DMA copy and reads its destination with the very next instruction.
TEST_PORT = 0x80
.start
        LDW   p0, 0xFF00          ; source
        LDW   p2, message
        STW   [p0], p2
        LDW   p0, 0xFF02          ; destination
        LDW   p2, 0xA000
        STW   [p0], p2
        LDW   p0, 0xFF04          ; length
        LDW   p2, 2
        STW   [p0], p2
        LDW   p0, 0xFF06
        LDW   p2, 0xA001
        ST    [p0], 1             ; start
        LD    r0, [p2]
        OUT   TEST_PORT, r0
        HALT

message:
        .byte 0x48, 0x69
