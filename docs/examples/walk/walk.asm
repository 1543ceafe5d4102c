; Walking between two rooms of a Tiled map: walk.tmx, converted at build
; time by lumacor-map (--pack) into walk.inc. The player, a sprite, starts
; at the map's "start" object and walks with LEFT and RIGHT; past the edge
; of a room the next room shows. OUT 0x80 tells which room is shown.

        .include "lumacor.inc"
        .vector FRAME_VECTOR, frame

V_ROOM = 16                     ; variables: bytes of the stack page
V_X    = 17
V_Y    = 18
PLAYER = 255                    ; the player's tile, out of the map's way
STEP   = 4                      ; texels a frame; the start and the edges are multiples of it
PLAYER_COLORS = level_color_count * 0x11  ; a colour of its own, after the map's

        .start
main:   LDW   p6, level_tiles_a
        LDW   p2, VRAM_PLANE_A + TILE_SIZE * level_first_tile
        LDW   p4, TILE_SIZE * level_tile_count
        CALL  map_copy
        LDW   p6, level_tiles_b
        LDW   p2, VRAM_PLANE_B + TILE_SIZE * level_first_tile
        CALL  map_copy
        LDW   p6, level_palette
        LDW   p2, VRAM_PALETTE
        LDW   p4, COLOR_SIZE * level_color_count
        CALL  map_copy
        LDW   p6, player_color
        LDW   p2, VRAM_PALETTE + COLOR_SIZE * level_color_count
        LDW   p4, COLOR_SIZE
        CALL  map_copy
        LDW   p6, player_tile
        LDW   p2, VRAM_PLANE_A + TILE_SIZE * PLAYER
        LDW   p4, TILE_SIZE
        CALL  map_copy
        LDW   p6, player_tile
        LDW   p2, VRAM_PLANE_B + TILE_SIZE * PLAYER
        CALL  map_copy
        ; The start: room 0's first object (count, then type, x, y, id).
        LDW   p0, level_room_0_objects + 2
        LD    r(V_X), [p0]
        INCW  p0
        LD    r(V_Y), [p0]
        LD    r(V_ROOM), 0
        CALL  show_room
        EI
idle:   JMP   idle

; The room V_ROOM from the table of rooms into video memory.
show_room:
        LDW   p0, level_rooms
        LD    r2, 0
        MOV   r3, r(V_ROOM)
        ADDW  p0, p2
        ADDW  p0, p2
        LD    r2, [p0]
        INCW  p0
        LD    r3, [p0]
        MOVW  p0, p2
        LDW   p2, VRAM_TILE_MAP
        CALL  map_unpack
        MOV   r0, r(V_ROOM)
        OUT   TEST_PORT, r0
        RET

frame:
        LDW   p2, PAD1_BUTTONS
        LD    r0, [p2]
        MOV   r1, r0
        AND   r1, PAD_RIGHT
        JZ    .left
        CMP   r(V_X), FRAME_WIDTH - 8
        JNZ   .right
        CMP   r(V_ROOM), level_rooms_wide - 1
        JZ    .draw                     ; the last room ends the walk
        INC   r(V_ROOM)
        LD    r(V_X), 0
        CALL  show_room
        JMP   .draw
.right: ADD   r(V_X), STEP
        JMP   .draw
.left:  AND   r0, PAD_LEFT
        JZ    .draw
        CMP   r(V_X), 0
        JNZ   .back
        CMP   r(V_ROOM), 0
        JZ    .draw
        DEC   r(V_ROOM)
        LD    r(V_X), FRAME_WIDTH - 8
        CALL  show_room
        JMP   .draw
.back:  SUB   r(V_X), STEP
.draw:  LDW   p0, VRAM_SPRITES
        ST    [p0], r(V_X)
        INCW  p0
        ST    [p0], r(V_Y)
        INCW  p0
        ST    [p0], PLAYER
        INCW  p0
        ST    [p0], PLAYER_COLORS
        INCW  p0
        ST    [p0], ATTR_VISIBLE
        RETI

player_tile:
        .byte 0x3C, 0x3C, 0x18, 0x7E, 0x18, 0x18, 0x24, 0x66
player_color:
        .byte 0x30, 0x80, 0xF0          ; blue, green, red: orange

        .include "map.inc"
        .include "walk.inc"
