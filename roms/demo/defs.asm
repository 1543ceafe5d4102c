; Machine addresses, the game's memory layout, tile numbers and colours.

; --- the machine
TEST_PORT     = 0x80
VRAM_PLANE_A  = 0x8000          ; tile patterns, colour select
VRAM_PLANE_B  = 0x8800          ; tile patterns, coverage
VRAM_MAP      = 0x9000          ; 768 cells of tile, colors, attr
VRAM_SPRITES  = 0x9900          ; 40 entries of x, y, tile, colors, attr
VRAM_PALETTE  = 0x99C8          ; 16 entries of blue, green, red
DMA_SOURCE    = 0xFF00
DMA_DEST      = 0xFF02
DMA_LENGTH    = 0xFF04
DMA_CONTROL   = 0xFF06
APU_WAVEFORM  = 0xFF07
APU_NOTE      = 0xFF08
APU_VOLUME    = 0xFF09
NOTE_COUNT    = 108             ; notes 0..107
PAD0          = 0xFF0A
PAD1          = 0xFF0B
BANK_SELECT   = 0x4000
SAVE_BASE     = 0xE000

PAD_UP        = 0x01
PAD_DOWN      = 0x02
PAD_LEFT      = 0x04
PAD_RIGHT     = 0x08
PAD_START     = 0x10
PAD_BACK      = 0x20
PAD_A         = 0x40
PAD_X         = 0x80

WAVE_SINE     = 0
WAVE_SAW      = 1
WAVE_SQUARE   = 2
WAVE_NOISE    = 3

MAP_CELLS     = 768
MAP_BYTES     = 3 * MAP_CELLS
SPRITE_BYTES  = 5 * 40
ATTR_FRONT    = 0x80            ; cell: front layer
ATTR_VISIBLE  = 0x80            ; sprite: drawn
ATTR_VFLIP    = 0x40
ATTR_HFLIP    = 0x20

; --- work RAM
BRICKS        = 0xA000          ; 6 rows of 16 bytes: hits left per brick (0 = gone)
SCORE         = 0xA100          ; 5 digits, most significant first
HISCORE       = 0xA108          ; 5 digits
OAM_SHADOW    = 0xA200          ; copy of the sprite table, sent by DMA each frame
SHADOW_MAP    = 0xB000          ; screens are built here, then sent by DMA
SHADOW_OFFSET = SHADOW_MAP - VRAM_MAP

; --- variables: the stack page bytes behind the registers serve as extra
; registers (operands 16 and up); the stack itself stays at the top of the page.
V_STATE       = 16
V_FRAME       = 17
V_PAD         = 18              ; buttons held (both pads)
V_PRESSED     = 19              ; buttons pressed since the last frame
V_TIMER       = 20
V_PADX        = 21              ; paddle: column of its left texel
V_BALLX       = 22              ; ball sprite's top-left texel
V_BALLY       = 23
V_DX          = 24              ; 0xFE, 0xFF, 1 or 2 per step
V_DY          = 25              ; 0xFF or 1 per step
V_STEPS       = 26              ; ball steps per frame
V_LIVES       = 27
V_LEVEL       = 28              ; 0 for the first wall
V_BRICKS      = 29              ; bricks left in the wall
V_RANDOM      = 30
V_PAUSED      = 31
V_JINGLE      = 32              ; 1 while the effect playing is a jingle
V_SHARDS      = 37              ; frames left of the shards' flight
V_SHARDX      = 38
V_SHARDY      = 39
V_SHARDC      = 40              ; their colors byte
V_FLASH       = 41              ; frames left of the background flash
V_HITS        = 42              ; paddle hits, for speeding up
V_NEWHI       = 43
V_SPIN        = 46              ; counts ball steps; turns the ball

; --- game states
ST_TITLE      = 0
ST_SERVE      = 1
ST_PLAY       = 2
ST_LOST       = 3
ST_CLEAR      = 4
ST_OVER       = 5

; --- playfield geometry (texels)
PLAY_LEFT     = 8               ; first column right of the left wall
PLAY_RIGHT    = 248             ; first column of the right wall
PLAY_TOP      = 16              ; first row below the top wall
PADDLE_Y      = 168
PADDLE_WIDTH  = 32
PADDLE_SPEED  = 5
PAD_MIN       = PLAY_LEFT       ; the paddle stops at the walls' inner edges
PAD_MAX       = PLAY_RIGHT - PADDLE_WIDTH
BALL_EDGE     = 1               ; the ball's drawn texels: columns and rows 1-6 of its tile
BALL_SIZE     = 6
BALL_MIN_X    = PLAY_LEFT - BALL_EDGE   ; it bounces where its texels touch a wall
BALL_MAX_X    = PLAY_RIGHT - BALL_EDGE - BALL_SIZE
BALL_MIN_Y    = PLAY_TOP - BALL_EDGE
BALL_LOST_Y   = 188
TITLE_MIN_Y   = 8 - BALL_EDGE   ; the title's frame: rows 0 and 23 of the map
TITLE_MAX_Y   = 184 - BALL_EDGE - BALL_SIZE
BALL_ON_PADDLE = PADDLE_Y - 5   ; ball top when its bottom row touches the paddle
BRICK_TOP     = 32              ; texel row of the first brick row (map row 4)
BRICK_ROWS    = 6
BRICK_COLUMNS = 15
BRICK_MAP_ROW = 4
MESSAGE_ROW   = 14
SLOW_STEPS    = 2               ; ball steps a frame: a new ball
FAST_STEPS    = 3               ; after HITS_TO_SPEED_UP paddle hits
HITS_TO_SPEED_UP = 16

; --- tiles (the font sits at the tile numbers of its ASCII codes)
T_EMPTY       = 0
T_BG          = 1
T_BRICK       = 2
T_WALL_V      = 3
T_WALL_H      = 4
T_WALL_C      = 5
T_PAD_END     = 6
T_PAD_MID     = 7
T_BALL        = 8
T_SHARD       = 9
T_LIFE        = 10
TILE_COUNT    = 96

; --- palette entries
C_BG          = 0
C_BGDOT       = 1
C_WHITE       = 2
C_GREY        = 3
C_RED         = 4
C_ORANGE      = 5
C_YELLOW      = 6
C_GREEN       = 7
C_CYAN        = 8
C_BLUE        = 9
C_PURPLE      = 10
C_EDGE        = 11
C_STEEL       = 12
C_STEEL_LT    = 13
C_BLACK       = 14
C_CYCLE       = 15              ; rewritten every few frames on the title

; colors bytes: high nibble for pattern bit 1, low nibble for bit 0
BG_COLORS     = C_BGDOT << 4 | C_BG
WALL_COLORS   = C_STEEL_LT << 4 | C_STEEL
HUD_COLORS    = C_WHITE << 4 | C_BLACK
HUD_DIGITS    = C_YELLOW << 4 | C_BLACK
MSG_COLORS    = C_WHITE << 4 | C_BG
STRONG_COLORS = C_EDGE << 4 | C_GREY
PADDLE_COLORS = C_WHITE << 4 | C_CYAN
BALL_COLORS   = C_ORANGE << 4 | C_WHITE

; --- where the HUD's numbers go (row 0)
HUD_SCORE_COL = 7
HUD_HI_COL    = 16
HUD_LEVEL_COL = 25
HUD_LIVES_COL = 27
TITLE_HI_ROW  = 15
TITLE_HI_COL  = 19

; --- fixed-bank data addresses
PATTERN_A     = 0x3000          ; TILE_COUNT tiles of plane A
PATTERN_B     = PATTERN_A + 8 * TILE_COUNT
