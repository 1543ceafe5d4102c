; Constants, local labels and every operator.
.equ BASE, 0x10
WIDTH = (BASE << 2) + 3 * 4 - 1
MASK = ~0 & 0xFF ^ 0x0F | 1
FLAGS_SET = (WIDTH > 10) && (MASK != 0) || !0
.start
outer:
        LD    r(1 + 1), WIDTH % 7
        LD    r16, 'A'
        LD    FLAGS, 0
        LDW   SP, 0xFFFF
        LDW   p(4), outer.inner
        MOVW  p6, PC
.inner: MOV   r3, r4
        CMPW  p4, $
        JNC   .inner
        IN    r0, 0x80
        IN    r0, r1
        OUT   r2, r1
        DI
        NOP
        RETI
        HALT
        .db "a\tb\n\x41\\\"", 0
        .dw -1, 65535, hi(0x1234) * lo(0x1234) / 2
