; Touches every device: video memory, sprites, palette, sound, DMA, the
; controller bytes, save RAM and a bank switch, then loops on the frame.
VRAM = 0x8000
SPRITES = 0x9900
PALETTE = 0x99C8
DMA = 0xFF00
APU = 0xFF07
PAD0 = 0xFF0A
SAVE = 0xE000

.vector 0, frame
.vector 1, frame
.start
        EI
        LDW   p2, VRAM
        LD    r0, 0xA5
.fill_tiles:
        ST    [p2], r0
        INCW  p2
        CMPW  p2, 0x9000
        JNZ   .fill_tiles
        LDW   p2, SPRITES
        ST    [p2], 120
        INCW  p2
        ST    [p2], 90
        INCW  p2
        ST    [p2], 3
        INCW  p2
        ST    [p2], 0x21
        INCW  p2
        ST    [p2], 0xE0
        LDW   p2, PALETTE
        ST    [p2], 0xFF
        LDW   p2, APU
        ST    [p2], 2
        INCW  p2
        ST    [p2], 69
        INCW  p2
        ST    [p2], 128
        ; copy 16 bytes of the ROM into save RAM through the DMA controller
        LDW   p2, DMA
        LDW   p4, 0x0100
        STW   [p2], p4
        ADDW  p2, 2
        LDW   p4, SAVE
        STW   [p2], p4
        ADDW  p2, 2
        LDW   p4, 16
        STW   [p2], p4
        ADDW  p2, 2
        ST    [p2], 1
        LDW   p2, 0x4000
        ST    [p2], 2
        LDW   p2, PAD0
        LD    r5, [p2]
        PUSH  0x1234
        POP   p6
        CALL  sub
.loop:  JMP   .loop

sub:    XCHG  r0, r1
        SHL   r0, 3
        SHR   r1, 2
        AND   r0, 0x0F
        OR    r0, r1
        XOR   r0, 0xFF
        NOT   r0
        ADD   r0, r1
        SUB   r0, 1
        CMP   r0, r1
        JC    .skip
        DEC   r0
.skip:  RET

frame:  INC   r9
        OUT   0x80, r9
        RETI

.bank 2
        .byte 1, 2, 3, 4
        .word 0x1234, lo(sub), hi(sub)
        .ascii "bank two"
        .align 16, 0xEE
        .res 4
        .fill 20, 7
        .assert $ > 0x4000, "in the banked window"
