; Sprite and pad: a sprite moved by the d-pad of player 1.
        .include "lumacor.inc"
        .vector FRAME_VECTOR, frame

frames  = RAM_FIRST             ; counts frames, one byte
ship    = VRAM_SPRITES          ; sprite 0
SHIP_TILE = 1

        .start
        ; Colours: 0 a dark blue background, 1 yellow for the ship.
        LDW   p0, palette
        LDW   p2, VRAM_PALETTE
        LD    r4, 2 * COLOR_SIZE
        CALL  copy
        ; Tile 0 solid, for the background; the ship's tile from its pattern.
        LDW   p0, VRAM_PLANE_B
        LD    r4, TILE_SIZE
.solid: ST    [p0], 0xFF
        INCW  p0
        DEC   r4
        JNZ   .solid
        LDW   p0, ship_pattern
        LDW   p2, VRAM_PLANE_B + TILE_SIZE * SHIP_TILE
        LD    r4, TILE_SIZE
        CALL  copy
        ; The ship in the middle of the screen, in colour 1, shown.
        LDW   p0, ship_sprite
        LDW   p2, ship
        LD    r4, SPRITE_SIZE
        CALL  copy
        EI

main:   CALL  wait_frame
        CALL  move_ship
        JMP   main

; Moves the ship one texel for each direction held on pad 1.
move_ship:
        LDW   p0, PAD1_BUTTONS
        LD    r2, [p0]
        LDW   p0, ship + SPRITE_X
        LD    r3, [p0]
        MOV   r4, r2
        AND   r4, PAD_LEFT
        JZ    .right
        DEC   r3
.right: MOV   r4, r2
        AND   r4, PAD_RIGHT
        JZ    .x_done
        INC   r3
.x_done:
        ST    [p0], r3
        LDW   p0, ship + SPRITE_Y
        LD    r3, [p0]
        MOV   r4, r2
        AND   r4, PAD_UP
        JZ    .down
        DEC   r3
.down:  MOV   r4, r2
        AND   r4, PAD_DOWN
        JZ    .y_done
        INC   r3
.y_done:
        ST    [p0], r3
        RET

; Copies r4 bytes from the address in p0 to the address in p2.
copy:   LD    r5, [p0]
        ST    [p2], r5
        INCW  p0
        INCW  p2
        DEC   r4
        JNZ   copy
        RET

; Waits until the frame interrupt has counted the next frame.
wait_frame:
        LDW   p0, frames
        LD    r2, [p0]
.wait:  LD    r3, [p0]
        CMP   r3, r2
        JZ    .wait
        RET

; The frame interrupt, after each picture: counts it. An interrupt keeps
; FLAGS (in p10) and every register it uses.
frame:  PUSH  p10
        PUSH  p8
        LDW   p8, frames
        LD    r10, [p8]
        INC   r10
        ST    [p8], r10
        POP   p8
        POP   p10
        RETI

palette:
        .byte 0x50, 0x20, 0x10  ; colour 0: blue, green, red
        .byte 0x20, 0xD0, 0xF0  ; colour 1
ship_pattern:
        .byte 0b00011000
        .byte 0b00011000
        .byte 0b00111100
        .byte 0b01111110
        .byte 0b11111111
        .byte 0b11111111
        .byte 0b00100100
        .byte 0b01100110
ship_sprite:
        .byte 124, 92, SHIP_TILE, 0x11, ATTR_VISIBLE   ; x, y, tile, colours, attr
