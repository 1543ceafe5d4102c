; Copies the two controller bytes into the first two bytes of save RAM, over
; and over, so a test sees through the save RAM which buttons the machine
; reads.
PAD0    = 0xFF0A
STORAGE = 0xE000

.start
loop:   LDW   p0, PAD0
        LDW   p2, STORAGE
        LD    r4, [p0]
        ST    [p2], r4
        INCW  p0
        INCW  p2
        LD    r4, [p0]
        ST    [p2], r4
        JMP   loop
