; Fixed-bank tables: colours, map rows, messages.

; 16 entries of blue, green, red, drawn left to right in art/palette.png in
; the order of the C_ names in defs.asm; C_CYCLE starts gold.
palette:
        .include "art/palette.inc"

flash_colour:
        .byte 0x1C, 0x10, 0x48          ; the background after a lost ball

rainbow:
        .byte 0x3C, 0x3C, 0xE6
        .byte 0x28, 0x8C, 0xF0
        .byte 0x3C, 0xDC, 0xF0
        .byte 0x50, 0xC8, 0x50
        .byte 0xDC, 0xC8, 0x3C
        .byte 0xF0, 0x6E, 0x46
        .byte 0xDC, 0x50, 0xAA
        .byte 0xFF, 0xFF, 0xFF

; Video memory address of the first cell of each map row.
row_addresses:
        .word VRAM_MAP + 0 * 96, VRAM_MAP + 1 * 96, VRAM_MAP + 2 * 96, VRAM_MAP + 3 * 96
        .word VRAM_MAP + 4 * 96, VRAM_MAP + 5 * 96, VRAM_MAP + 6 * 96, VRAM_MAP + 7 * 96
        .word VRAM_MAP + 8 * 96, VRAM_MAP + 9 * 96, VRAM_MAP + 10 * 96, VRAM_MAP + 11 * 96
        .word VRAM_MAP + 12 * 96, VRAM_MAP + 13 * 96, VRAM_MAP + 14 * 96, VRAM_MAP + 15 * 96
        .word VRAM_MAP + 16 * 96, VRAM_MAP + 17 * 96, VRAM_MAP + 18 * 96, VRAM_MAP + 19 * 96
        .word VRAM_MAP + 20 * 96, VRAM_MAP + 21 * 96, VRAM_MAP + 22 * 96, VRAM_MAP + 23 * 96

save_signature:
        .ascii "LBRK"

msg_ready:      .asciz "GET READY"
msg_paused:     .asciz "PAUSED"
msg_clear:      .asciz "WALL CLEARED!"
msg_game_over:  .asciz "GAME OVER"
msg_new_high:   .asciz "NEW HIGH SCORE!"

; Colors byte of each brick row, top first; indexed with a single register.
        .align 256
brick_colors:
        .byte C_EDGE << 4 | C_RED
        .byte C_EDGE << 4 | C_ORANGE
        .byte C_EDGE << 4 | C_YELLOW
        .byte C_EDGE << 4 | C_GREEN
        .byte C_EDGE << 4 | C_CYAN
        .byte C_EDGE << 4 | C_PURPLE
