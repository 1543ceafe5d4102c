; Shows all 40 sprites at every position of the 256 x 256 coordinate space,
; 40 new positions per frame, with the flip bits changing as they go; tile 1
; is fully drawn so every pixel of a sprite lands somewhere. Stops after the
; last position, 1639 frames later.
PLANE_B = 0x8800
SPRITES = 0x9900
SPRITE_COUNT = 40

.vector 0, frame
.start
        LDW   p2, PLANE_B + 8   ; tile 1: every pixel covered
        LD    r0, 8
.tile:  ST    [p2], 0xFF
        INCW  p2
        DEC   r0
        JNZ   .tile
        LDW   p6, 0             ; next position: r6 = y, r7 = x
        CALL  place
        EI
.wait:  JMP   .wait

frame:  CALL  place
        RETI

; Places the 40 sprites at the next 40 positions; stops after wrapping.
place:  LDW   p2, SPRITES
        LD    r4, SPRITE_COUNT
.one:   ST    [p2], r7          ; x
        INCW  p2
        ST    [p2], r6          ; y
        INCW  p2
        ST    [p2], 1           ; tile
        INCW  p2
        ST    [p2], 0x12        ; colours
        INCW  p2
        MOV   r8, r6
        AND   r8, 0x60
        OR    r8, 0x80
        ST    [p2], r8          ; visible, flips from y
        INCW  p2
        INCW  p6
        CMPW  p6, 0
        JZ    .last
        DEC   r4
        JNZ   .one
        RET
.last:  HALT
