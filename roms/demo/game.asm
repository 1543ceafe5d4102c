; Game states, the ball, the bricks, the score and the high score.

; --- input and randomness

; V_PAD := buttons held on either pad; V_PRESSED := those not held last frame.
read_input:
        LDW   p8, PAD0
        LD    r0, [p8]
        INCW  p8
        LD    r1, [p8]
        OR    r0, r1
        MOV   r1, r(V_PAD)
        MOV   r(V_PAD), r0
        NOT   r1
        AND   r1, r0
        MOV   r(V_PRESSED), r1
        RET

; An 8-bit linear congruential step, taken every frame: with the seed set at
; game start, the sequence depends only on when the buttons were pressed.
next_random:
        MOV   r0, r(V_RANDOM)
        SHL   r0, 2
        ADD   r0, r(V_RANDOM)
        ADD   r0, 0x3B
        MOV   r(V_RANDOM), r0
        RET

; --- title

enter_title:
        LDW   p0, sfx_title
        CALL  snd_music
        LD    r(V_STATE), ST_TITLE
        LD    r(V_SHARDS), 0
        ; a ball wanders over the title, behind its text, inside its frame
        LD    r(V_BALLX), 24
        LD    r(V_BALLY), 132
        LD    r(V_DX), 1
        LD    r(V_DY), 0xFF
        CALL  select_bank2
        CALL  build_title
        CALL  select_bank1
        LD    r2, TITLE_HI_ROW
        LD    r3, TITLE_HI_COL
        CALL  cell_addr
        LDW   p2, HISCORE
        LD    r5, MSG_COLORS
        LD    r6, ATTR_FRONT
        CALL  draw_digits
        LD    r0, 0x01
        OUT   TEST_PORT, r0
        RET

title_frame:
        CALL  cycle_palette
        CALL  title_ball
        MOV   r0, r(V_PRESSED)
        AND   r0, PAD_START | PAD_A
        JZ    .done
        CALL  start_game
.done:  RET

; The title's ball bounces off the inside of the frame.
title_ball:
        INC   r(V_SPIN)
        ADD   r(V_BALLX), r(V_DX)
        CMP   r(V_BALLX), BALL_MIN_X
        JZ    .flip_x
        CMP   r(V_BALLX), BALL_MAX_X
        JNZ   .y
.flip_x:
        CALL  negate_dx
.y:     ADD   r(V_BALLY), r(V_DY)
        CMP   r(V_BALLY), TITLE_MIN_Y
        JZ    .flip_y
        CMP   r(V_BALLY), TITLE_MAX_Y
        JNZ   .done
.flip_y:
        LD    r0, 0
        SUB   r0, r(V_DY)
        MOV   r(V_DY), r0
.done:  RET

; Every fourth frame palette entry C_CYCLE takes the next rainbow colour.
cycle_palette:
        MOV   r0, r(V_FRAME)
        AND   r0, 3
        JNZ   .done
        MOV   r0, r(V_FRAME)
        SHR   r0, 2
        AND   r0, 7
        MOV   r1, r0
        ADD   r0, r1
        ADD   r0, r1                    ; 3 bytes per colour
        LDW   p2, rainbow
        LD    r4, 0
        MOV   r5, r0
        ADDW  p2, p4
        LD    r0, C_CYCLE
        CALL  set_palette
.done:  RET

; --- a game

start_game:
        LDW   p8, SCORE
        LD    r0, 5
.clear: ST    [p8], 0
        INCW  p8
        DEC   r0
        JNZ   .clear
        LD    r(V_LIVES), 3
        LD    r(V_LEVEL), 0
        LD    r(V_STEPS), SLOW_STEPS
        LD    r(V_HITS), 0
        LD    r(V_NEWHI), 0
        LD    r(V_PAUSED), 0
        LD    r(V_RANDOM), 0x5A
        LD    r0, 0x02
        OUT   TEST_PORT, r0
        LDW   p0, sfx_game
        CALL  snd_music
        LDW   p0, sfx_start
        CALL  jingle
        ; fall through

; Builds the current level's wall and serves.
start_level:
        LD    r(V_SHARDS), 0
        CALL  select_bank2
        CALL  build_playfield
        CALL  select_bank1
        CALL  draw_hud
        LD    r(V_PADX), 112
        ; fall through

enter_serve:
        LD    r(V_STATE), ST_SERVE
        CALL  ball_on_paddle
        CALL  phase_message
        RET

; The waiting ball sits on the middle of the paddle.
ball_on_paddle:
        MOV   r0, r(V_PADX)
        ADD   r0, 12
        MOV   r(V_BALLX), r0
        LD    r(V_BALLY), BALL_ON_PADDLE - 1
        RET

; The ball waits on the paddle for as long as the player likes.
serve_frame:
        CALL  move_paddle
        CALL  ball_on_paddle
        MOV   r0, r(V_PRESSED)
        AND   r0, PAD_A | PAD_UP
        JZ    .done
        CALL  clear_message
        LD    r(V_DY), 0xFF
        LD    r(V_DX), 1
        MOV   r0, r(V_RANDOM)
        AND   r0, 0x10
        JZ    .right
        LD    r(V_DX), 0xFF
.right: LD    r(V_STATE), ST_PLAY
        LD    r0, 0x03
        OUT   TEST_PORT, r0
        LDW   p0, sfx_launch
        CALL  effect
.done:  RET

; A frame of the serve, the play, a lost ball's pause or a cleared wall's.
; In each of them BACK gives up and START pauses: a paused game stands still.
play_phase:
        MOV   r0, r(V_PRESSED)
        AND   r0, PAD_BACK
        JZ    .pause
        CALL  game_over
        RET
.pause: MOV   r0, r(V_PRESSED)
        AND   r0, PAD_START
        JZ    .paused
        XOR   r(V_PAUSED), 1
        CALL  clear_message
        CALL  phase_message
.paused:
        CMP   r(V_PAUSED), 0
        JNZ   .done
        ; the phase's own frame, jumped to: its RET returns from here
        MOV   r0, r(V_STATE)
        CMP   r0, ST_SERVE
        JZ    serve_frame
        CMP   r0, ST_PLAY
        JZ    play_frame
        CMP   r0, ST_LOST
        JZ    lost_frame
        JMP   clear_frame
.done:  RET

; PAUSED while paused; otherwise the message of the phase, if it has one.
phase_message:
        LDW   p0, msg_paused
        LD    r3, 13
        CMP   r(V_PAUSED), 0
        JNZ   show_message
        LDW   p0, msg_ready
        LD    r3, 12
        CMP   r(V_STATE), ST_SERVE
        JZ    show_message
        LDW   p0, msg_clear
        LD    r3, 10
        CMP   r(V_STATE), ST_CLEAR
        JZ    show_message
        RET

play_frame:
        CALL  move_paddle
        MOV   r0, r(V_STEPS)
.step:  PUSH  p0
        CALL  ball_step
        POP   p0
        CMP   r(V_STATE), ST_PLAY
        JNZ   .shards
        DEC   r0
        JNZ   .step
.shards:
        CMP   r(V_SHARDS), 0
        JZ    .done
        DEC   r(V_SHARDS)
.done:  RET

lost_frame:
        CALL  move_paddle
        DEC   r(V_TIMER)
        JNZ   .done
        CALL  enter_serve
.done:  RET

clear_frame:
        CMP   r(V_SHARDS), 0
        JZ    .timer
        DEC   r(V_SHARDS)
.timer: DEC   r(V_TIMER)
        JNZ   .done
        CALL  clear_message
        CALL  start_level
.done:  RET

over_frame:
        CMP   r(V_NEWHI), 0
        JZ    .timer
        CALL  cycle_palette
.timer: DEC   r(V_TIMER)
        JZ    .title
        CMP   r(V_TIMER), 200           ; ignore the buttons for a moment
        JNC   .done
        MOV   r0, r(V_PRESSED)
        AND   r0, PAD_START | PAD_A
        JZ    .done
.title: CALL  enter_title
.done:  RET

; --- the paddle

move_paddle:
        MOV   r0, r(V_PAD)
        AND   r0, PAD_LEFT
        JZ    .right
        MOV   r1, r(V_PADX)
        SUB   r1, PADDLE_SPEED
        JC    .min
        CMP   r1, PAD_MIN
        JNC   .setl
.min:   LD    r1, PAD_MIN
.setl:  MOV   r(V_PADX), r1
.right: MOV   r0, r(V_PAD)
        AND   r0, PAD_RIGHT
        JZ    .done
        MOV   r1, r(V_PADX)
        ADD   r1, PADDLE_SPEED
        CMP   r1, PAD_MAX + 1
        JC    .setr
        LD    r1, PAD_MAX
.setr:  MOV   r(V_PADX), r1
.done:  RET

; --- the ball

negate_dx:
        LD    r0, 0
        SUB   r0, r(V_DX)
        MOV   r(V_DX), r0
        RET

wall_sound:
        LDW   p0, sfx_wall
        CALL  effect
        RET

; Moves the ball one step: across first, then up or down, bouncing off the
; walls, the bricks and the paddle; a ball that falls past the paddle is lost.
ball_step:
        INC   r(V_SPIN)
        ADD   r(V_BALLX), r(V_DX)
        MOV   r0, r(V_DX)
        AND   r0, 0x80
        JZ    .right
        CMP   r(V_BALLX), BALL_MIN_X + 1    ; touching a wall bounces, as on the right
        JNC   .probe_left
        LD    r(V_BALLX), BALL_MIN_X
        CALL  negate_dx
        CALL  wall_sound
        JMP   .vertical
.probe_left:
        MOV   r0, r(V_BALLX)
        ADD   r0, 1
        JMP   .probe_x
.right: CMP   r(V_BALLX), BALL_MAX_X
        JC    .probe_right
        LD    r(V_BALLX), BALL_MAX_X
        CALL  negate_dx
        CALL  wall_sound
        JMP   .vertical
.probe_right:
        MOV   r0, r(V_BALLX)
        ADD   r0, 6
.probe_x:
        MOV   r1, r(V_BALLY)
        ADD   r1, 3
        CALL  brick_probe
        JZ    .vertical
        CALL  hit_brick
        CALL  negate_dx
        ADD   r(V_BALLX), r(V_DX)
        CMP   r(V_STATE), ST_PLAY
        JNZ   .done

.vertical:
        ADD   r(V_BALLY), r(V_DY)
        MOV   r0, r(V_DY)
        AND   r0, 0x80
        JZ    .down
        CMP   r(V_BALLY), BALL_MIN_Y + 1
        JNC   .probe_up
        LD    r(V_BALLY), BALL_MIN_Y
        LD    r(V_DY), 1
        CALL  wall_sound
        RET
.probe_up:
        MOV   r1, r(V_BALLY)
        ADD   r1, 1
        JMP   .probe_y
.down:  MOV   r1, r(V_BALLY)
        ADD   r1, 6
.probe_y:
        MOV   r0, r(V_BALLX)
        ADD   r0, 3
        CALL  brick_probe
        JZ    .paddle
        CALL  hit_brick
        LD    r0, 0
        SUB   r0, r(V_DY)
        MOV   r(V_DY), r0
        ADD   r(V_BALLY), r(V_DY)
        RET

.paddle:
        MOV   r0, r(V_DY)
        AND   r0, 0x80
        JNZ   .done
        CMP   r(V_BALLY), BALL_ON_PADDLE
        JNZ   .fall
        ; offset 0..37 when any part of the ball is over the paddle
        MOV   r0, r(V_BALLX)
        ADD   r0, 6
        SUB   r0, r(V_PADX)
        CMP   r0, 38
        JNC   .fall
        LD    r(V_DY), 0xFF
        ; the further from the middle, the flatter the bounce
        LD    r1, 0xFE
        CMP   r0, 10
        JC    .angle
        LD    r1, 0xFF
        CMP   r0, 19
        JC    .angle
        LD    r1, 1
        CMP   r0, 28
        JC    .angle
        LD    r1, 2
.angle: MOV   r(V_DX), r1
        LDW   p0, sfx_paddle
        CALL  effect
        ; a long rally speeds the ball up
        INC   r(V_HITS)
        CMP   r(V_HITS), HITS_TO_SPEED_UP
        JC    .done
        LD    r(V_STEPS), FAST_STEPS
        RET
.fall:  CMP   r(V_BALLY), BALL_LOST_Y
        JC    .done
        CALL  lose_life
.done:  RET

; r0 = texel column, r1 = texel row. Returns Z clear when a brick is there,
; with r2 = its index in BRICKS (row * 16 + column).
brick_probe:
        CMP   r1, BRICK_TOP
        JC    .miss
        CMP   r1, BRICK_TOP + 8 * BRICK_ROWS
        JNC   .miss
        SUB   r1, BRICK_TOP
        SHR   r1, 3
        SHR   r0, 3
        CMP   r0, 1
        JC    .miss
        CMP   r0, 31
        JNC   .miss
        SUB   r0, 1
        SHR   r0, 1
        SHL   r1, 4
        OR    r1, r0
        MOV   r2, r1
        LDW   p8, BRICKS
        MOV   r9, r2                    ; BRICKS is 256-aligned
        LD    r0, [p8]
        CMP   r0, 0
        RET
.miss:  LD    r0, 0
        CMP   r0, 0
        RET

; r2 = brick index. A strong brick turns into a normal one; a normal one
; breaks: it leaves the map, scores, throws shards and may clear the level.
hit_brick:
        LDW   p8, BRICKS
        MOV   r9, r2
        LD    r0, [p8]
        DEC   r0
        ST    [p8], r0
        ; map row and column of the brick's left half
        MOV   r7, r2
        SHR   r7, 4                     ; brick row
        MOV   r3, r2
        AND   r3, 15
        ADD   r3, r3
        INC   r3                        ; map column
        MOV   r2, r7
        ADD   r2, BRICK_MAP_ROW         ; map row
        CMP   r0, 0
        JZ    .break
        PUSH  p2
        CALL  cell_addr
        CALL  row_colors
        CALL  put_brick
        POP   p2
        LDW   p0, sfx_brick_hit
        CALL  effect
        RET
.break: PUSH  p2
        PUSH  p6
        CALL  cell_addr
        CALL  put_background2
        POP   p6
        POP   p2
        ; shards fly from the brick's middle, in its colour
        MOV   r0, r3
        SHL   r0, 3
        ADD   r0, 4
        MOV   r(V_SHARDX), r0
        MOV   r0, r2
        SHL   r0, 3
        MOV   r(V_SHARDY), r0
        PUSH  p6
        CALL  row_colors
        POP   p6
        MOV   r(V_SHARDC), r5
        LD    r(V_SHARDS), 8
        ; higher rows are worth more: 60 points for the top row down to 10
        LD    r0, BRICK_ROWS
        SUB   r0, r7
        CALL  add_score
        CALL  draw_score
        PUSH  p6
        CALL  follow_high
        POP   p6
        LD    r0, 0x08
        OUT   TEST_PORT, r0
        CALL  break_sound
        DEC   r(V_BRICKS)
        JNZ   .done
        CALL  level_clear
.done:  RET

; r7 = brick row -> r5 = its colors byte
row_colors:
        LDW   p8, brick_colors
        MOV   r9, r7                    ; brick_colors is 256-aligned
        LD    r5, [p8]
        RET

lose_life:
        LD    r0, 0x04
        OUT   TEST_PORT, r0
        LDW   p0, sfx_lose
        CALL  effect
        LD    r(V_FLASH), 12
        LD    r(V_STEPS), SLOW_STEPS    ; the next ball starts slow again
        LD    r(V_HITS), 0
        DEC   r(V_LIVES)
        CALL  draw_lives
        CMP   r(V_LIVES), 0
        JNZ   .again
        CALL  game_over
        RET
.again: LD    r(V_STATE), ST_LOST
        LD    r(V_TIMER), 60
        RET

level_clear:
        LD    r0, 0x05
        OUT   TEST_PORT, r0
        LD    r(V_STATE), ST_CLEAR
        LD    r(V_TIMER), 120
        INC   r(V_LEVEL)
        LD    r(V_STEPS), FAST_STEPS    ; later walls start fast
        CALL  phase_message
        LDW   p0, sfx_clear
        CALL  jingle
        RET

game_over:
        LD    r0, 0x06
        OUT   TEST_PORT, r0
        LD    r(V_STATE), ST_OVER
        LD    r(V_TIMER), 250
        LD    r(V_PAUSED), 0
        CALL  clear_message
        LDW   p0, msg_game_over
        LD    r3, 12
        CALL  show_message
        CMP   r(V_NEWHI), 0
        JZ    .sad
        CALL  save_high_score
        LDW   p0, msg_new_high
        LD    r2, MESSAGE_ROW + 2
        LD    r3, 9
        LD    r5, C_CYCLE << 4 | C_BG
        CALL  show_text
        LD    r0, 0x07
        OUT   TEST_PORT, r0
        CALL  snd_stop
        LDW   p0, sfx_high
        CALL  jingle
        RET
.sad:   CALL  snd_stop
        LDW   p0, sfx_over
        CALL  jingle
        RET

; --- score and high score

; Adds r0 (1..9) tens to the score.
add_score:
        LDW   p8, SCORE + 3
.digit: LD    r1, [p8]
        ADD   r1, r0
        LD    r0, 0
        CMP   r1, 10
        JC    .store
        SUB   r1, 10
        LD    r0, 1
.store: ST    [p8], r1
        CMP   r0, 0
        JZ    .done
        CMPW  p8, SCORE
        JZ    .done                     ; past 99,999 the score wraps
        DECW  p8
        JMP   .digit
.done:  RET

; Z clear when the score is higher than the high score.
score_beats_high:
        LDW   p2, SCORE
        LDW   p4, HISCORE
        LD    r6, 5
.digit: LD    r0, [p2]
        LD    r1, [p4]
        CMP   r0, r1
        JNZ   .differ
        INCW  p2
        INCW  p4
        DEC   r6
        JNZ   .digit
        LD    r0, 0                     ; equal: not beaten
        CMP   r0, 0
        RET
.differ:
        JC    .lower
        LD    r0, 1
        CMP   r0, 0
        RET
.lower: LD    r0, 0
        CMP   r0, 0
        RET

; Once the score passes the high score, HI follows it; save RAM is written
; only when the game ends, by save_high_score.
follow_high:
        CALL  score_beats_high
        JZ    .done
        LD    r(V_NEWHI), 1
        LDW   p2, SCORE
        LDW   p4, HISCORE
        LD    r6, 5
.copy:  LD    r0, [p2]
        ST    [p4], r0
        INCW  p2
        INCW  p4
        DEC   r6
        JNZ   .copy
        CALL  draw_high
.done:  RET

; Save RAM: signature, the high score's digits, checksum.
save_high_score:
        LDW   p2, save_signature
        LDW   p4, SAVE_BASE
        LD    r6, 4
.sig:   LD    r0, [p2]
        ST    [p4], r0
        INCW  p2
        INCW  p4
        DEC   r6
        JNZ   .sig
        LDW   p2, HISCORE
        LD    r6, 5
        LD    r1, 0x5A
.digits:
        LD    r0, [p2]
        ST    [p4], r0
        ADD   r1, r0
        INCW  p2
        INCW  p4
        DEC   r6
        JNZ   .digits
        ST    [p4], r1
        RET

; HISCORE := the saved high score, or 0 when save RAM holds no valid one.
load_high_score:
        LDW   p8, HISCORE
        LD    r0, 5
.zero:  ST    [p8], 0
        INCW  p8
        DEC   r0
        JNZ   .zero
        LDW   p2, save_signature
        LDW   p4, SAVE_BASE
        LD    r6, 4
.sig:   LD    r0, [p2]
        LD    r1, [p4]
        CMP   r0, r1
        JNZ   .done
        INCW  p2
        INCW  p4
        DEC   r6
        JNZ   .sig
        ; check the digits and the checksum before taking them
        LD    r6, 5
        LD    r1, 0x5A
.check: LD    r0, [p4]
        CMP   r0, 10
        JNC   .done
        ADD   r1, r0
        INCW  p4
        DEC   r6
        JNZ   .check
        LD    r0, [p4]
        CMP   r0, r1
        JNZ   .done
        LDW   p2, SAVE_BASE + 4
        LDW   p4, HISCORE
        LD    r6, 5
.copy:  LD    r0, [p2]
        ST    [p4], r0
        INCW  p2
        INCW  p4
        DEC   r6
        JNZ   .copy
.done:  RET

; --- the score bar (front layer, row 0)

draw_hud:
        CALL  draw_score
        CALL  draw_high
        CALL  draw_level
        CALL  draw_lives
        RET

draw_score:
        PUSH  p2
        PUSH  p6
        LDW   p2, SCORE
        LDW   p0, VRAM_MAP + 3 * HUD_SCORE_COL
        LD    r5, HUD_DIGITS
        LD    r6, ATTR_FRONT
        CALL  draw_digits
        POP   p6
        POP   p2
        RET

draw_high:
        LDW   p2, HISCORE
        LDW   p0, VRAM_MAP + 3 * HUD_HI_COL
        LD    r5, HUD_DIGITS
        LD    r6, ATTR_FRONT
        CALL  draw_digits
        RET

draw_level:
        MOV   r4, r(V_LEVEL)
        INC   r4
        CMP   r4, 10
        JC    .digit
        LD    r4, 9
.digit: ADD   r4, '0'
        LDW   p0, VRAM_MAP + 3 * HUD_LEVEL_COL
        LD    r5, HUD_DIGITS
        LD    r6, ATTR_FRONT
        CALL  put_cell
        RET

; One ball icon per ball left, up to three.
draw_lives:
        LDW   p0, VRAM_MAP + 3 * HUD_LIVES_COL
        LD    r5, HUD_COLORS
        LD    r6, ATTR_FRONT
        LD    r7, 0
.icon:  LD    r4, T_LIFE
        CMP   r7, r(V_LIVES)
        JC    .put
        LD    r4, ' '
.put:   CALL  put_cell
        INC   r7
        CMP   r7, 3
        JNZ   .icon
        RET

; --- messages in the playfield (front layer)

; p0 = text, r3 = column: shows it in white on the message row.
show_message:
        LD    r2, MESSAGE_ROW
        LD    r5, MSG_COLORS
; p0 = text, r2 = row, r3 = column, r5 = colors.
show_text:
        PUSH  p0
        CALL  cell_addr
        POP   p2
        LD    r6, ATTR_FRONT
        CALL  print
        RET

; Puts the background back on the message rows.
clear_message:
        LD    r2, MESSAGE_ROW
        CALL  .row
        LD    r2, MESSAGE_ROW + 2
.row:   LD    r3, 1
        CALL  cell_addr
        LD    r7, 30
.cell:  CALL  put_background
        DEC   r7
        JNZ   .cell
        RET
