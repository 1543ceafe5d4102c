; Video helpers: DMA copies, map cells, text, palette and sprites.

; p0 = source, p2 = destination, p4 = length. The copy is done before the
; next instruction runs.
dma_copy:
        LDW   p8, DMA_SOURCE
        STW   [p8], p0
        LDW   p8, DMA_DEST
        STW   [p8], p2
        LDW   p8, DMA_LENGTH
        STW   [p8], p4
        LDW   p8, DMA_CONTROL
        ST    [p8], 1
        RET

; Tile patterns and palette from ROM to video memory, sprites hidden.
load_video:
        LDW   p0, PATTERN_A
        LDW   p2, VRAM_PLANE_A
        LDW   p4, 8 * TILE_COUNT
        CALL  dma_copy
        LDW   p0, PATTERN_B
        LDW   p2, VRAM_PLANE_B
        CALL  dma_copy
        LDW   p0, palette
        LDW   p2, VRAM_PALETTE
        LDW   p4, 48
        CALL  dma_copy
        CALL  hide_sprites
        RET

; Clears the sprite table copy: one zero byte, spread by an overlapping copy.
hide_sprites:
        LDW   p0, OAM_SHADOW
        ST    [p0], 0
        LDW   p2, OAM_SHADOW + 1
        LDW   p4, SPRITE_BYTES - 1
        CALL  dma_copy
        RET

upload_sprites:
        LDW   p0, OAM_SHADOW
        LDW   p2, VRAM_SPRITES
        LDW   p4, SPRITE_BYTES
        CALL  dma_copy
        RET

select_bank1:
        LDW   p8, BANK_SELECT
        ST    [p8], 1
        RET

select_bank2:
        LDW   p8, BANK_SELECT
        ST    [p8], 2
        RET

; r2 = map row, r3 = map column -> p0 = the cell's address in video memory.
; Uses p8.
cell_addr:
        LDW   p0, row_addresses
        LD    r8, 0
        MOV   r9, r2
        ADD   r9, r2
        ADDW  p0, p8
        LD    r8, [p0]
        INCW  p0
        LD    r9, [p0]
        MOVW  p0, p8
        LD    r8, 0
        MOV   r9, r3
        ADD   r9, r3
        ADD   r9, r3
        ADDW  p0, p8
        RET

; Writes a cell at p0 (tile r4, colors r5, attr r6) and moves p0 to the next.
put_cell:
        ST    [p0], r4
        INCW  p0
        ST    [p0], r5
        INCW  p0
        ST    [p0], r6
        INCW  p0
        RET

put_background:
        LD    r4, T_BG
        LD    r5, BG_COLORS
        LD    r6, 0
        CALL  put_cell
        RET

put_background2:
        CALL  put_background
        CALL  put_background
        RET

; A brick is two back-layer cells: the tile, then the same tile flipped.
; p0 = left cell, r5 = colors.
put_brick:
        LD    r4, T_BRICK
        LD    r6, 0
        CALL  put_cell
        LD    r6, ATTR_HFLIP
        CALL  put_cell
        RET

; p2 = zero-terminated text, p0 = first cell, r5 colors, r6 attr.
print:
.next:  LD    r4, [p2]
        CMP   r4, 0
        JZ    .done
        CALL  put_cell
        INCW  p2
        JMP   .next
.done:  RET

; p2 = five digits, p0 = first cell, r5 colors, r6 attr.
draw_digits:
        LD    r7, 5
.digit: LD    r4, [p2]
        ADD   r4, '0'
        CALL  put_cell
        INCW  p2
        DEC   r7
        JNZ   .digit
        RET

; r0 = palette entry, p2 = its blue, green and red bytes.
set_palette:
        LDW   p4, VRAM_PALETTE
        LD    r6, 0
        MOV   r7, r0
        ADD   r7, r0
        ADD   r7, r0
        ADDW  p4, p6
        LD    r1, 3
.byte:  LD    r0, [p2]
        ST    [p4], r0
        INCW  p2
        INCW  p4
        DEC   r1
        JNZ   .byte
        RET

; The background turns red for a few frames after a ball is lost.
flash_update:
        CMP   r(V_FLASH), 0
        JZ    .done
        DEC   r(V_FLASH)
        LDW   p2, flash_colour
        JNZ   .set
        LDW   p2, palette
.set:   LD    r0, C_BG
        CALL  set_palette
.done:  RET

; r4 = x, r5 = y, r6 = tile, r7 = colors, r8 = attr: writes the sprite entry
; at p0 and moves p0 to the next one.
put_sprite:
        ST    [p0], r4
        INCW  p0
        ST    [p0], r5
        INCW  p0
        ST    [p0], r6
        INCW  p0
        ST    [p0], r7
        INCW  p0
        ST    [p0], r8
        INCW  p0
        RET

; Sprites 0-3 are the paddle, 4-7 the shards and 8 the ball, which the
; highest number puts in front of the others.
draw_sprites:
        CMP   r(V_STATE), ST_TITLE
        JNZ   .ball
        CALL  hide_sprites
        LDW   p0, OAM_SHADOW + 5 * 8
        JMP   .spin
.ball:  LDW   p0, OAM_SHADOW + 5 * 8
        LD    r8, 0
        CMP   r(V_STATE), ST_SERVE
        JZ    .spin
        CMP   r(V_STATE), ST_PLAY
        JNZ   .put_ball
.spin:  MOV   r8, r(V_SPIN)             ; the flips turn the ball's highlight
        SHL   r8, 2
        AND   r8, ATTR_VFLIP | ATTR_HFLIP
        OR    r8, ATTR_VISIBLE
.put_ball:
        MOV   r4, r(V_BALLX)
        MOV   r5, r(V_BALLY)
        LD    r6, T_BALL
        LD    r7, BALL_COLORS
        CALL  put_sprite
        CMP   r(V_STATE), ST_TITLE
        JNZ   .paddle
        RET
.paddle:
        ; paddle: end, middle, middle, end flipped
        LDW   p0, OAM_SHADOW
        MOV   r4, r(V_PADX)
        LD    r5, PADDLE_Y
        LD    r6, T_PAD_END
        LD    r7, PADDLE_COLORS
        LD    r8, ATTR_VISIBLE
        CALL  put_sprite
        ADD   r4, 8
        LD    r6, T_PAD_MID
        CALL  put_sprite
        ADD   r4, 8
        CALL  put_sprite
        ADD   r4, 8
        LD    r6, T_PAD_END
        LD    r8, ATTR_VISIBLE | ATTR_HFLIP
        CALL  put_sprite
        ; shards: distance grows by 2 texels a frame
        LD    r3, 8
        SUB   r3, r(V_SHARDS)
        ADD   r3, r3
        LD    r6, T_SHARD
        MOV   r7, r(V_SHARDC)
        LD    r2, ATTR_VISIBLE
        CMP   r(V_SHARDS), 0
        JNZ   .left
        LD    r2, 0
.left:  MOV   r5, r(V_SHARDY)
        SUB   r5, r3
        MOV   r4, r(V_SHARDX)
        MOV   r8, r2
        SUB   r4, r3
        JNC   .ul
        LD    r8, 0                     ; off the left edge
.ul:    CALL  put_sprite
        MOV   r4, r(V_SHARDX)
        ADD   r4, r3
        MOV   r8, r2
        OR    r8, ATTR_HFLIP
        CALL  right_shard
        MOV   r5, r(V_SHARDY)
        ADD   r5, r3
        MOV   r4, r(V_SHARDX)
        MOV   r8, r2
        OR    r8, ATTR_VFLIP
        SUB   r4, r3
        JNC   .dl
        LD    r8, 0
.dl:    CALL  put_sprite
        MOV   r4, r(V_SHARDX)
        ADD   r4, r3
        MOV   r8, r2
        OR    r8, ATTR_VFLIP | ATTR_HFLIP
        CALL  right_shard
        RET

; A shard flying right is hidden once it is in the right wall: past column
; 248 a sprite's right columns would show at the left edge of the next row.
right_shard:
        CMP   r4, PLAY_RIGHT + 1
        JC    put_sprite
        LD    r8, 0
        JMP   put_sprite
