; Switches the banked window and reports a byte of each bank on the test port.
TEST_PORT = 0x80
.start
        LDW   p2, 0x4000          ; the banked window
        LD    r0, [p2]            ; bank 1 at start
        OUT   TEST_PORT, r0
        LD    r1, 2
        ST    [p2], r1            ; select bank 2
        LD    r0, [p2]
        OUT   TEST_PORT, r0
        ST    [p2], 3
        LD    r0, [p2]
        OUT   TEST_PORT, r0
        ST    [p2], 0             ; bank 0 cannot be selected: still bank 3
        LD    r0, [p2]
        OUT   TEST_PORT, r0
        ST    [p2], 9             ; past the image: reads 0
        LD    r0, [p2]
        OUT   TEST_PORT, r0
        HALT

.bank 1
        .byte 0xB1
.bank 2
        .byte 0xB2
.bank 3
        .byte 0xB3
