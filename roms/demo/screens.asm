; ROM bank 2: the screens and the playing fields, and the routines that build
; them. Callers select bank 2 first and bank 1 afterwards. A screen is built
; in a RAM copy of the tile map and then sent to video memory in one DMA copy,
; so it never shows half drawn.

V_ROW         = 44              ; loop counters of the builders
V_COLUMN      = 45
V_FIELD_BG    = 47              ; the tile of a field's background

; r2 = map row, r3 = map column -> p0 = the cell's address in the RAM copy.
shadow_addr:
        CALL  cell_addr
        ADDW  p0, SHADOW_OFFSET
        RET

; Every cell becomes background: one cell written by hand, then a copy that
; overlaps itself by one cell repeats it over the whole map.
fill_shadow:
        LDW   p0, SHADOW_MAP
        CALL  put_background
        LDW   p0, SHADOW_MAP
        LDW   p2, SHADOW_MAP + 3
        LDW   p4, MAP_BYTES - 3
        CALL  dma_copy
        RET

upload_map:
        LDW   p0, SHADOW_MAP
        LDW   p2, VRAM_MAP
        LDW   p4, MAP_BYTES
        CALL  dma_copy
        RET

; r2 = row: a horizontal wall with corner blocks, front layer.
wall_row:
        LD    r3, 0
        CALL  shadow_addr
        LD    r5, WALL_COLORS
        LD    r6, ATTR_FRONT
        LD    r4, T_WALL_C
        CALL  put_cell
        LD    r4, T_WALL_H
        LD    r7, 30
.cell:  CALL  put_cell
        DEC   r7
        JNZ   .cell
        LD    r4, T_WALL_C
        CALL  put_cell
        RET

; r2 = first row, r7 = number of rows: the side walls, front layer.
side_walls:
        LD    r3, 0
        CALL  shadow_addr
        LD    r4, T_WALL_V
        LD    r5, WALL_COLORS
        LD    r6, ATTR_FRONT
        CALL  put_cell
        ADDW  p0, 3 * 30
        CALL  put_cell
        INC   r2
        DEC   r7
        JNZ   side_walls
        RET

; p2 = list of texts: row, column, colors, attr, zero-terminated text; the
; list ends with a row of 0xFF.
print_list:
        LD    r0, [p2]
        CMP   r0, 0xFF
        JZ    .done
        INCW  p2
        LD    r1, [p2]
        INCW  p2
        LD    r5, [p2]
        INCW  p2
        LD    r6, [p2]
        INCW  p2
        PUSH  p2
        MOV   r2, r0
        MOV   r3, r1
        CALL  shadow_addr
        POP   p2
        CALL  print
        INCW  p2
        JMP   print_list
.done:  RET

build_title:
        CALL  fill_shadow
        LD    r2, 0
        CALL  wall_row
        LD    r2, 1
        LD    r7, 22
        CALL  side_walls
        LD    r2, 23
        CALL  wall_row
        ; the name in brick letters, one brick cell per '#'
        LDW   p2, title_art
        LD    r(V_ROW), 0
.row:   PUSH  p2
        MOV   r2, r(V_ROW)
        ADD   r2, 3
        LD    r3, 0
        CALL  shadow_addr
        POP   p2
        LDW   p8, title_colors
        LD    r6, 0
        MOV   r7, r(V_ROW)
        ADDW  p8, p6
        LD    r5, [p8]
        LD    r4, T_BRICK
        LD    r(V_COLUMN), 32
.column:
        LD    r7, [p2]
        INCW  p2
        CMP   r7, '#'
        JNZ   .skip
        LD    r6, 0
        CALL  put_cell
        JMP   .next
.skip:  ADDW  p0, 3
.next:  DEC   r(V_COLUMN)
        JNZ   .column
        INC   r(V_ROW)
        CMP   r(V_ROW), TITLE_ART_ROWS
        JNZ   .row
        LDW   p2, title_texts
        CALL  print_list
        CALL  upload_map
        RET

; The field of level V_LEVEL (the fields repeat): score bar, walls and
; bricks, drawn in Tiled in fields.tmx and converted at build time into
; fields.inc, one room a field. Its patterns go after the sheet's and its
; room into the RAM copy of the map; the score bar's labels are printed on
; it. Each brick slot whose cell is not the background's holds a brick, and
; a grey one takes two hits; the bricks are then drawn with the game's own
; tile, which the code that breaks them knows.
build_playfield:
        LDW   p0, fields_tiles_a
        LDW   p2, VRAM_PLANE_A + 8 * fields_first_tile
        LDW   p4, 8 * fields_tile_count
        CALL  dma_copy
        LDW   p0, fields_tiles_b
        LDW   p2, VRAM_PLANE_B + 8 * fields_first_tile
        CALL  dma_copy
        MOV   r0, r(V_LEVEL)
.mod:   CMP   r0, fields_room_count
        JC    .pick
        SUB   r0, fields_room_count
        JMP   .mod
.pick:  LDW   p2, fields_rooms
        LD    r8, 0
        MOV   r9, r0
        ADD   r9, r0
        ADDW  p2, p8
        LD    r0, [p2]
        INCW  p2
        LD    r1, [p2]
        LDW   p2, SHADOW_MAP
        CALL  map_unpack
        LDW   p2, hud_texts
        CALL  print_list
        ; no bricks yet
        LDW   p0, BRICKS
        ST    [p0], 0
        LDW   p2, BRICKS + 1
        LDW   p4, 16 * BRICK_ROWS - 1
        CALL  dma_copy
        LD    r(V_BRICKS), 0
        LDW   p8, SHADOW_MAP + 3 * (2 * 32 + 1)   ; below the top wall: background
        LD    r(V_FIELD_BG), [p8]
        LD    r(V_ROW), 0
.row:   LD    r(V_COLUMN), 0
.column:
        ; the slot's left cell: map row V_ROW + 4, column 2 * V_COLUMN + 1
        MOV   r2, r(V_ROW)
        ADD   r2, BRICK_MAP_ROW
        MOV   r3, r(V_COLUMN)
        ADD   r3, r(V_COLUMN)
        INC   r3
        CALL  shadow_addr
        LD    r4, [p0]
        CMP   r4, r(V_FIELD_BG)
        JZ    .next
        MOVW  p2, p0
        INCW  p2
        LD    r5, [p2]
        LD    r4, 1                     ; hits it takes
        MOV   r6, r5
        AND   r6, 0x0F
        CMP   r6, C_GREY
        JZ    .strong
        SHR   r5, 4
        CMP   r5, C_GREY
        JNZ   .store
.strong:
        LD    r4, 2
.store: LDW   p8, BRICKS
        MOV   r9, r(V_ROW)
        SHL   r9, 4
        OR    r9, r(V_COLUMN)
        ST    [p8], r4
        INC   r(V_BRICKS)
        LD    r5, STRONG_COLORS
        CMP   r4, 2
        JZ    .draw
        MOV   r7, r(V_ROW)
        CALL  row_colors
.draw:  CALL  put_brick
.next:  INC   r(V_COLUMN)
        CMP   r(V_COLUMN), BRICK_COLUMNS
        JNZ   .column
        INC   r(V_ROW)
        CMP   r(V_ROW), BRICK_ROWS
        JNZ   .row
        CALL  upload_map
        RET

hud_texts:
        .byte 0, 1, HUD_COLORS, ATTR_FRONT
        .asciz "SCORE"
        .byte 0, HUD_HI_COL - 3, HUD_COLORS, ATTR_FRONT
        .asciz "HI"
        .byte 0, HUD_LEVEL_COL - 3, HUD_COLORS, ATTR_FRONT
        .asciz "LV"
        .byte 0xFF

title_texts:
        .byte TITLE_HI_ROW, TITLE_HI_COL - 11, MSG_COLORS, ATTR_FRONT
        .asciz "HIGH SCORE"
        .byte 17, 10, C_CYCLE << 4 | C_BG, ATTR_FRONT
        .asciz "PRESS START"
        .byte 19, 4, C_GREY << 4 | C_BG, ATTR_FRONT
        .asciz "ARROWS MOVE    Z LAUNCH"
        .byte 20, 4, C_GREY << 4 | C_BG, ATTR_FRONT
        .asciz "ENTER PAUSE    BACK QUIT"
        .byte 22, 8, C_STEEL << 4 | C_BG, ATTR_FRONT
        .asciz "LUMACOR DEMO 2026"
        .byte 0xFF

TITLE_ART_ROWS = 11
title_colors:
        .byte C_EDGE << 4 | C_RED
        .byte C_EDGE << 4 | C_ORANGE
        .byte C_EDGE << 4 | C_YELLOW
        .byte C_EDGE << 4 | C_GREEN
        .byte C_EDGE << 4 | C_CYAN
        .byte 0
        .byte C_EDGE << 4 | C_CYCLE
        .byte C_EDGE << 4 | C_CYCLE
        .byte C_EDGE << 4 | C_CYCLE
        .byte C_EDGE << 4 | C_CYCLE
        .byte C_EDGE << 4 | C_CYCLE

title_art:
        .ascii ".......#...#.#.#...#.###........"
        .ascii ".......#...#.#.##.##.#.#........"
        .ascii ".......#...#.#.#.#.#.###........"
        .ascii ".......#...#.#.#...#.#.#........"
        .ascii ".......###.###.#...#.#.#........"
        .ascii "................................"
        .ascii "......##..##..###.###.#.#......."
        .ascii "......#.#.#.#.#...#.#.#.#......."
        .ascii "......##..##..##..###.##........"
        .ascii "......#.#.#.#.#...#.#.#.#......."
        .ascii "......##..#.#.###.#.#.#.#......."

        .include "map.inc"
        .include "fields.inc"
