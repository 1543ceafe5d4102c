; Draws a known picture, then takes frame interrupts: after SHOW_AFTER of
; them the handler makes the last sprite visible, so that sprite shows only if
; frames keep being composed and their interrupts reach the program. The
; end-to-end test builds the same video memory and works out the frame.
VRAM_PLANE_A = 0x8000
VRAM_PLANE_B = 0x8800
VRAM_MAP     = 0x9000
VRAM_SPRITES = 0x9900
VRAM_PALETTE = 0x99C8
SHOW_AFTER   = 10
LATE_SPRITE_ATTR = VRAM_SPRITES + 5 * 5 + 4

.vector 0, frame
.start
main:
        LDW   p2, palette
        LDW   p4, VRAM_PALETTE
        LD    r6, 48
        CALL  copy
        LDW   p2, tiles_a
        LDW   p4, VRAM_PLANE_A + 8      ; tiles 1 to 3
        LD    r6, 24
        CALL  copy
        LDW   p2, tiles_b
        LDW   p4, VRAM_PLANE_B + 8
        LD    r6, 24
        CALL  copy

        ; Cell n: tile 1 when n is even, the empty tile 0 when odd;
        ; colors n mod 256; back layer.
        LDW   p4, VRAM_MAP
        LDW   p6, 768
        LD    r0, 1
        LD    r1, 0
.cell:  ST    [p4], r0
        INCW  p4
        ST    [p4], r1
        INCW  p4
        ST    [p4], 0
        INCW  p4
        XOR   r0, 1
        INC   r1
        DECW  p6
        CMPW  p6, 0
        JNZ   .cell

        ; A few cells set one by one: {address, tile, colors, attr}.
        LDW   p2, cells
        LD    r8, CELL_COUNT
.one:   LD    r4, [p2]
        INCW  p2
        LD    r5, [p2]
        INCW  p2
        LD    r6, 3
        CALL  copy
        DEC   r8
        JNZ   .one

        LDW   p2, sprites
        LDW   p4, VRAM_SPRITES
        LD    r6, SPRITE_BYTES
        CALL  copy

        LD    r9, 0
        EI
.idle:  JMP   .idle

frame:  INC   r9
        CMP   r9, SHOW_AFTER
        JNZ   .done
        LDW   p2, LATE_SPRITE_ATTR
        ST    [p2], 0xE0              ; visible, both flips
.done:  RETI

; Copies r6 bytes (1 to 255) from [p2] to [p4]; both pointers advance.
copy:   LD    r0, [p2]
        ST    [p4], r0
        INCW  p2
        INCW  p4
        DEC   r6
        JNZ   copy
        RET

; Entry i is blue 16i+1, green 255-16i, red 37i mod 256.
palette:
        .byte 1, 255, 0
        .byte 17, 239, 37
        .byte 33, 223, 74
        .byte 49, 207, 111
        .byte 65, 191, 148
        .byte 81, 175, 185
        .byte 97, 159, 222
        .byte 113, 143, 3
        .byte 129, 127, 40
        .byte 145, 111, 77
        .byte 161, 95, 114
        .byte 177, 79, 151
        .byte 193, 63, 188
        .byte 209, 47, 225
        .byte 225, 31, 6
        .byte 241, 15, 43

; Tile 1: a checker of its two colours. Tile 2: a triangle, colour 1 on its
; left half. Tile 3: a ring.
tiles_a:
        .byte 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55
        .byte 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0
        .byte 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C
tiles_b:
        .byte 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF
        .byte 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE, 0xFF
        .byte 0xFF, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0xFF

cells:
        .word VRAM_MAP + 3 * 33
        .byte 2, 0x43, 0x00           ; as stored
        .word VRAM_MAP + 3 * 35
        .byte 2, 0x43, 0x20           ; mirrored
        .word VRAM_MAP + 3 * 37
        .byte 2, 0x43, 0x40           ; upside down
        .word VRAM_MAP + 3 * 39
        .byte 2, 0x43, 0x60           ; both
        .word VRAM_MAP + 3 * 100
        .byte 3, 0x65, 0x80           ; front, over sprites 1 and 2
        .word VRAM_MAP + 3 * 767
        .byte 3, 0x87, 0x9F           ; front, bottom right; bits 0-4 mean nothing
CELL_COUNT = ($ - cells) / 5

sprites:
        .byte 252, 10, 2, 0x9A, 0x80   ; carried over into the next rows
        .byte 30, 22, 1, 0xBC, 0x80    ; partly under the front cell 100
        .byte 34, 26, 2, 0xDE, 0x80    ; over sprite 1
        .byte 250, 188, 1, 0xF1, 0x80  ; cut at the end of the frame
        .byte 100, 100, 2, 0x12, 0x7F  ; hidden
        .byte 120, 120, 2, 0x34, 0x60  ; shown by the frame handler
SPRITE_BYTES = $ - sprites
