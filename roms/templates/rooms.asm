; Rooms: two rooms drawn in rooms.tmj, walked between with LEFT and RIGHT.
; rooms.tmj is a Tiled map: open it to paint its rooms (its tiles are in
; tiles.png). The build converts it into rooms.inc: the patterns, the
; palette, each room's cells and objects. The player starts at the map's
; "start" object; past the edge of a room the next room shows.

        .include "lumacor.inc"
        .vector FRAME_VECTOR, frame

V_ROOM = 16                     ; variables: bytes of the stack page
V_X    = 17
V_Y    = 18
PLAYER = 255                    ; the player's tile, out of the map's way
STEP   = 4                      ; texels a frame; the start and the edges are multiples of it
PLAYER_COLORS = rooms_color_count * 0x11  ; a colour of its own, after the map's

        .start
main:   LDW   p6, rooms_tiles_a
        LDW   p2, VRAM_PLANE_A + TILE_SIZE * rooms_first_tile
        LDW   p4, TILE_SIZE * rooms_tile_count
        CALL  map_copy
        LDW   p6, rooms_tiles_b
        LDW   p2, VRAM_PLANE_B + TILE_SIZE * rooms_first_tile
        CALL  map_copy
        LDW   p6, rooms_palette
        LDW   p2, VRAM_PALETTE
        LDW   p4, COLOR_SIZE * rooms_color_count
        CALL  map_copy
        LDW   p6, player_color
        LDW   p2, VRAM_PALETTE + COLOR_SIZE * rooms_color_count
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
        LDW   p0, rooms_room_0_objects + 2
        LD    r(V_X), [p0]
        INCW  p0
        LD    r(V_Y), [p0]
        LD    r(V_ROOM), 0
        CALL  show_room
        EI
idle:   JMP   idle

; The room V_ROOM from the table of rooms into video memory.
show_room:
        LDW   p0, rooms_rooms
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
        RET

frame:
        LDW   p2, PAD1_BUTTONS
        LD    r0, [p2]
        MOV   r1, r0
        AND   r1, PAD_RIGHT
        JZ    .left
        CMP   r(V_X), FRAME_WIDTH - 8
        JNZ   .right
        CMP   r(V_ROOM), rooms_rooms_wide - 1
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
        .include "rooms.inc"
