; Tile patterns, copied to video memory by DMA at start. They are drawn in
; art/tiles.png, one 8 x 8 cell a tile, left to right and top to bottom, and
; converted at build time. Plane A picks the colour of a texel (bit 1: the
; high nibble of the colors byte), plane B says whether it is drawn at all.
; The sheet is drawn in two colours of art/palette.png: night blue where
; plane A is 0, white where it is 1, transparent where nothing is drawn. The
; code sets each cell's real colours. Tiles 0-10 are the game's pieces
; (T_EMPTY to T_LIFE in defs.asm); tiles 0x20-0x5F are the font, at their
; ASCII codes, so text is stored as plain strings; glyphs are opaque cells
; whose colors byte gives the ink (high nibble) and the paper (low nibble).

        .org  PATTERN_A
        .include "art/tiles.inc"
        .assert sheet_tiles_b == PATTERN_B, "the sheet holds TILE_COUNT tiles"
        .assert sheet_tile_count == TILE_COUNT, "the sheet holds TILE_COUNT tiles"
