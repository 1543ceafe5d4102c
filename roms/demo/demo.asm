; LUMA BREAK - the lumacor demo cartridge.
;
; A breakout game: knock every brick out of the wall with a ball that bounces
; off the side walls, the ceiling and your paddle. Three balls per game, the
; wall comes back in a new shape (and the ball gets faster) each time it is
; cleared, and the best score is kept in the cartridge's save RAM.
;
; Controls (game pad 0 or 1, or the keyboard, which drives pad 0):
;   LEFT / RIGHT     move the paddle
;   A (Z, Space)     launch the ball, which waits on the paddle until then
;   START (Enter)    start a game on the title screen; pause and resume a game
;   BACK (Backspace) give up the game
;
; How the game uses the machine:
;   - Frame interrupt: the main program sets everything up, enables interrupts
;     and idles; the vector 0 handler runs one frame of the game and returns
;     with RETI. All game state changes happen there, once per frame.
;   - Tile layers: the background pattern and the bricks are back-layer cells;
;     the walls, the score bar and the messages are front-layer cells. The
;     ball and the paddle stop at the walls' inner edges; the shards of a
;     broken brick fly on behind the walls, seen through their gaps.
;   - Sprites: the ball (spun by cycling its flip bits), the paddle (its right
;     end is the left-end tile drawn with horizontal flip) and four brick
;     shards that fly out of a broken brick, one per flip combination.
;   - Palette: sixteen chosen colours; the title letters cycle through a
;     rainbow by rewriting one palette entry, and the background flashes red
;     when a ball is lost.
;   - DMA: tile patterns and the palette are copied from ROM into video memory,
;     screens are built in a RAM copy of the tile map (filled by a
;     self-overlapping DMA copy) and then copied to video memory, and the
;     sprite table is copied from RAM every frame.
;   - Audio: short notes for the walls, the paddle and the bricks, a noise
;     burst for a lost ball, and tunes at the start, at level clear and at
;     game over.
;   - Save RAM: the high score lives at 0xE000 (layout below) and is written
;     when a game ends with a better score (the score bar's HI follows the
;     score as soon as it passes); the emulator keeps it in the save file
;     between runs.
;   - Banks: the screens (title and playfield), the playing fields and the
;     routines that build them sit in ROM bank 2, selected by writing 2 to
;     0x4000 and switched back to bank 1 afterwards. The fields (walls and
;     brick layouts) are drawn in Tiled in fields.tmx, one room a field, and
;     converted at build time by lumacor-map.
;
; Save RAM layout (a blank or damaged save reads as a high score of 0):
;   0xE000-0xE003  "LBRK"
;   0xE004-0xE008  high score, five decimal digits (0-9 each), most
;                  significant first
;   0xE009         checksum: 0x5A plus the five digits, modulo 256
;
; Events on the test port 0x80 (OUT), for tests and debugging:
;   0x01 title screen shown        0x05 level cleared
;   0x02 game started              0x06 game over
;   0x03 ball launched             0x07 new high score saved
;   0x04 ball lost                 0x08 brick broken
;
; Everything is driven by the frame count and the controller bytes only, so
; a given input script always plays the same game.

        .include "defs.asm"

        .vector 0, frame

        .start
main:
        CALL  snd_init
        CALL  load_video
        CALL  load_high_score
        CALL  enter_title
        EI
idle:   JMP   idle

; ---------------------------------------------------------------------------
; The frame interrupt: one step of the game.
frame:
        INC   r(V_FRAME)
        CALL  read_input
        CALL  next_random
        CALL  flash_update
        MOV   r0, r(V_STATE)
        CMP   r0, ST_TITLE
        JNZ   .over
        CALL  title_frame
        JMP   .sprites
.over:  CMP   r0, ST_OVER
        JNZ   .play
        CALL  over_frame
        JMP   .sprites
.play:  CALL  play_phase
.sprites:
        CALL  draw_sprites
        CALL  upload_sprites
        CALL  snd_frame
        RETI

        .include "game.asm"
        .include "video.asm"
        .include "sound.asm"

        .assert $ <= PATTERN_A, "fixed-bank code runs into the tile patterns"
        .include "tiles.asm"
        .include "data.asm"
        .assert $ <= 0x4000, "fixed-bank data must stay out of the banked window"

        .bank 2
        .include "screens.asm"
