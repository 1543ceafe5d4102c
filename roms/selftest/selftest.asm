; The self-test cartridge: runs every one of the machine's 53 instruction
; forms and checks results and flags, the stack, calls, the frame interrupt,
; DMA, cartridge banks, save RAM, video memory and the device registers.
;
; Reporting, all through the test port 0x80:
;   - a failed check writes its check number (1..0xDF) to the port;
;   - the port checks themselves write 0xE1 and 0xE2 and read them back;
;   - at the end the verdict: 0xF0 when every check passed, 0xFE when any
;     failed; then the program HALTs.
; A passing run therefore prints exactly these test-port lines:
;   out[0x80] <- 0xE1
;   in[0x80] -> 0xE1
;   out[0x80] <- 0xE2
;   in[0x80] -> 0xE2
;   out[0x80] <- 0xF0
; and the bank lines "Bank switched to: 2" then "Bank switched to: 1".
; The picture ends all green on a pass and all red on a failure. Save RAM
; bytes 0xE000-0xE003 are left holding 'S', 'E', 'L', 'F' on every run.
;
; The checks lean on a few instructions to report (CMP, JNZ, CALL, RET, OUT);
; jumps and flags are checked first without those helpers.

TEST_PORT   = 0x80
PASS_CODE   = 0xF0
FAIL_CODE   = 0xFE

Z           = 0x80              ; flag bits in FLAGS (r11)
C           = 0x40

DMA_SOURCE  = 0xFF00
DMA_DEST    = 0xFF02
DMA_LENGTH  = 0xFF04
DMA_CONTROL = 0xFF06
APU_WAVE    = 0xFF07
APU_NOTE    = 0xFF08
APU_VOLUME  = 0xFF09
PAD0        = 0xFF0A
PAD1        = 0xFF0B
STORAGE     = 0xE000
PLANE_B     = 0x8800
PALETTE     = 0x99C8
VRAM_SPARE  = 0x9FFF

; Work RAM used by the test
failed      = 0xA000            ; nonzero once any check failed
irq_count   = 0xA001            ; frame interrupts taken
irq_sp      = 0xA002            ; SP seen by the handler (word)
irq_return  = 0xA004            ; return address the handler found (word)
scratch     = 0xA010
dma_target  = 0xA100

.vector 0, frame

; ---------------------------------------------------------------------------
; Check helpers. A check leaves the actual value in r0 (or p6 for words), the
; expected one in r1 (or p8) and its number in r2; expect_flags takes a copy
; of FLAGS in r3 and the expected Z and C bits in r1. They change r0 and r1
; only.

.org 0x0020
expect:
        CMP   r0, r1
        JNZ   report
        RET

expect_flags:
        MOV   r0, r3
        AND   r0, Z | C
        JMP   expect

expect_word:
        CMP   r6, r8
        JNZ   report
        CMP   r7, r9
        JNZ   report
        RET

; Reports check r2 as failed.
report:
        OUT   TEST_PORT, r2
        LDW   p0, failed
        ST    [p0], 1
        RET

; The frame interrupt: counts itself, and records the stack pointer and the
; return address it was entered with. Keeps every register it uses.
frame:
        PUSH  p10               ; r10 and FLAGS
        PUSH  p8
        LDW   p8, irq_sp
        STW   [p8], SP          ; SP after the two pushes above
        MOVW  p8, SP
        ADDW  p8, 4             ; the return address lies above the pushes
        LD    r10, [p8]         ; its low byte first on the stack
        LDW   p8, irq_return + 1
        ST    [p8], r10
        MOVW  p8, SP
        ADDW  p8, 5
        LD    r10, [p8]
        LDW   p8, irq_return
        ST    [p8], r10
        LDW   p8, irq_count
        LD    r10, [p8]
        INC   r10
        ST    [p8], r10
        POP   p8
        POP   p10
        RETI

; Data the loads and DMA read.
bytes8: .byte 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88

.start
; ---------------------------------------------------------------------------
; 1-9: jumps and flags, checked without the helpers' compare.
        LD    r2, 1             ; 1: JMP
        JMP   .jmp_ok
        CALL  report
.jmp_ok:
        LD    r2, 2             ; 2: JZ taken when Z is set
        LD    FLAGS, Z
        JZ    .jz_ok
        CALL  report
.jz_ok:
        LD    r2, 3             ; 3: JZ falls through when Z is clear
        LD    FLAGS, 0
        JZ    .jz_bad
        JMP   .jz_next
.jz_bad:
        CALL  report
.jz_next:
        LD    r2, 4             ; 4: JNZ taken when Z is clear
        LD    FLAGS, C
        JNZ   .jnz_ok
        CALL  report
.jnz_ok:
        LD    r2, 5             ; 5: JNZ falls through when Z is set
        LD    FLAGS, Z
        JNZ   .jnz_bad
        JMP   .jnz_next
.jnz_bad:
        CALL  report
.jnz_next:
        LD    r2, 6             ; 6: JC taken when C is set
        LD    FLAGS, C
        JC    .jc_ok
        CALL  report
.jc_ok:
        LD    r2, 7             ; 7: JC falls through when C is clear
        LD    FLAGS, Z
        JC    .jc_bad
        JMP   .jc_next
.jc_bad:
        CALL  report
.jc_next:
        LD    r2, 8             ; 8: JNC taken when C is clear
        LD    FLAGS, Z
        JNC   .jnc_ok
        CALL  report
.jnc_ok:
        LD    r2, 9             ; 9: JNC falls through when C is set
        LD    FLAGS, C
        JNC   .jnc_bad
        JMP   moves
.jnc_bad:
        CALL  report

; ---------------------------------------------------------------------------
; 10-29: moves, loads and stores. None of them touches the flags.
moves:
        LD    FLAGS, Z | C      ; 10: NOP changes nothing
        LD    r4, 0x5A
        NOP
        MOV   r3, FLAGS
        LD    r2, 10
        MOV   r0, r4
        LD    r1, 0x5A
        CALL  expect
        LD    r1, Z | C
        CALL  expect_flags

        LD    FLAGS, Z | C      ; 11: LD r, n keeps the flags
        LD    r4, 0
        MOV   r3, FLAGS
        LD    r2, 11
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z | C
        CALL  expect_flags

        LD    r5, 0xA7          ; 12: MOV r, r
        LD    FLAGS, 0
        MOV   r4, r5
        MOV   r3, FLAGS
        LD    r2, 12
        MOV   r0, r4
        LD    r1, 0xA7
        CALL  expect
        LD    r1, 0
        CALL  expect_flags

        LDW   p4, bytes8 + 2    ; 13: LD r, [p] from ROM
        LD    r0, [p4]
        LD    r2, 13
        LD    r1, 0x33
        CALL  expect

        LDW   p4, scratch       ; 14: ST [p], r into RAM, read back
        LD    r5, 0xC3
        ST    [p4], r5
        LD    r0, [p4]
        LD    r2, 14
        LD    r1, 0xC3
        CALL  expect

        LDW   p4, scratch + 1   ; 15: ST [p], n
        ST    [p4], 0x3C
        LD    r0, [p4]
        LD    r2, 15
        LD    r1, 0x3C
        CALL  expect

        LDW   p6, 0x1234        ; 16: LDW, high byte in the lower register
        LD    r2, 16
        MOV   r0, r6
        LD    r1, 0x12
        CALL  expect
        MOV   r0, r7
        LD    r1, 0x34
        CALL  expect

        LDW   p4, 0xBEEF        ; 17: MOVW p, p
        MOVW  p6, p4
        LDW   p8, 0xBEEF
        LD    r2, 17
        CALL  expect_word

        LDW   p6, 0x1234        ; 18: MOVW of overlapping pairs copies the old value
        MOVW  p7, p6            ; r7:r8 := 0x1234
        LD    r2, 18
        MOV   r0, r7
        LD    r1, 0x12
        CALL  expect
        MOV   r0, r8
        LD    r1, 0x34
        CALL  expect

        LDW   p4, scratch + 2   ; 19: STW stores big-endian
        LDW   p6, 0xCAFE
        STW   [p4], p6
        LD    r2, 19
        LD    r0, [p4]
        LD    r1, 0xCA
        CALL  expect
        INCW  p4
        LD    r0, [p4]
        LD    r1, 0xFE
        CALL  expect

        LD    r4, 0x01          ; 20: XCHG
        LD    r5, 0x02
        XCHG  r4, r5
        LD    r2, 20
        MOV   r0, r4
        LD    r1, 0x02
        CALL  expect
        MOV   r0, r5
        LD    r1, 0x01
        CALL  expect

        LD    r4, 0x77          ; 21: XCHG of a register with itself
        XCHG  r4, r4
        LD    r2, 21
        MOV   r0, r4
        LD    r1, 0x77
        CALL  expect

        MOVW  p6, PC            ; 22: PC as a source is the next instruction
.here:  LDW   p8, .here
        LD    r2, 22
        CALL  expect_word

        LDW   PC, .jumped       ; 23: writing PC jumps
        LD    r2, 23
        CALL  report
.jumped:

; ---------------------------------------------------------------------------
; 30-39: the stack. The main program runs with SP at 0xFFFF.
stack:
        LDW   p6, 0x1234        ; 30: PUSH p stores low byte below high byte
        PUSH  p6
        MOVW  p6, SP
        LDW   p8, 0xFFFD
        LD    r2, 30
        CALL  expect_word
        LDW   p4, 0xFFFD
        LD    r0, [p4]
        LD    r1, 0x34
        CALL  expect
        LDW   p4, 0xFFFE
        LD    r0, [p4]
        LD    r1, 0x12
        CALL  expect

        LDW   SP, 0xFF50        ; 31: register operands past r15 reach the stack
        PUSH  0x5678            ;     page: r(16 + n) is stack byte n
        LDW   SP, 0xFFFD
        MOV   r0, r(16 + 0x4E)
        LD    r2, 31
        LD    r1, 0x78
        CALL  expect

        POP   p6                ; 32: POP
        LDW   p8, 0x1234
        LD    r2, 32
        CALL  expect_word
        MOVW  p6, SP
        LDW   p8, 0xFFFF
        CALL  expect_word

        PUSH  0xABCD            ; 33: PUSH nn
        POP   p6
        LDW   p8, 0xABCD
        LD    r2, 33
        CALL  expect_word

        PUSH  SP                ; 34: PUSH SP pushes its value from before the push
        POP   p6
        LDW   p8, 0xFFFF
        LD    r2, 34
        CALL  expect_word

; ---------------------------------------------------------------------------
; 40-49: calls and returns.
calls:
        LD    r4, 0             ; 40: CALL runs the routine, RET comes back
        CALL  set_r4
        LD    r2, 40
        MOV   r0, r4
        LD    r1, 0x44
        CALL  expect

        CALL  return_address    ; 41: CALL pushes the address after itself
.after: LDW   p8, .after
        LD    r2, 41
        CALL  expect_word

        MOVW  p6, SP            ; 42: SP is back where it was
        LDW   p8, 0xFFFF
        LD    r2, 42
        CALL  expect_word
        JMP   logic

set_r4:
        LD    r4, 0x44
        RET

; Returns its own return address in p6.
return_address:
        POP   p6
        PUSH  p6
        RET

; ---------------------------------------------------------------------------
; 50-69: logic. Z follows the result, C is kept.
logic:
        LD    r4, 0xF0          ; 50: AND r, n
        LD    FLAGS, C
        AND   r4, 0x0F
        MOV   r3, FLAGS
        LD    r2, 50
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z | C
        CALL  expect_flags

        LD    r4, 0xF0          ; 51: AND r, r
        LD    r5, 0x3C
        LD    FLAGS, Z
        AND   r4, r5
        MOV   r3, FLAGS
        LD    r2, 51
        MOV   r0, r4
        LD    r1, 0x30
        CALL  expect
        LD    r1, 0
        CALL  expect_flags

        LD    r4, 0x0F          ; 52: OR r, n
        LD    FLAGS, Z | C
        OR    r4, 0xF0
        MOV   r3, FLAGS
        LD    r2, 52
        MOV   r0, r4
        LD    r1, 0xFF
        CALL  expect
        LD    r1, C
        CALL  expect_flags

        LD    r4, 0             ; 53: OR r, r
        LD    r5, 0
        LD    FLAGS, 0
        OR    r4, r5
        MOV   r3, FLAGS
        LD    r2, 53
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z
        CALL  expect_flags

        LD    r4, 0xAA          ; 54: XOR r, n
        LD    FLAGS, Z
        XOR   r4, 0xFF
        MOV   r3, FLAGS
        LD    r2, 54
        MOV   r0, r4
        LD    r1, 0x55
        CALL  expect
        LD    r1, 0
        CALL  expect_flags

        LD    r4, 0x96          ; 55: XOR r, r
        LD    FLAGS, C
        XOR   r4, r4
        MOV   r3, FLAGS
        LD    r2, 55
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z | C
        CALL  expect_flags

        LD    r4, 0xFF          ; 56: NOT to zero
        LD    FLAGS, C
        NOT   r4
        MOV   r3, FLAGS
        LD    r2, 56
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z | C
        CALL  expect_flags

        LD    r4, 0x0F          ; 57: NOT to nonzero
        LD    FLAGS, Z
        NOT   r4
        MOV   r3, FLAGS
        LD    r2, 57
        MOV   r0, r4
        LD    r1, 0xF0
        CALL  expect
        LD    r1, 0
        CALL  expect_flags

; ---------------------------------------------------------------------------
; 70-109: arithmetic. C is the carry or borrow; the word forms keep FLAGS.
arithmetic:
        LD    r4, 0xFF          ; 70: ADD r, n wraps with Z and C
        LD    FLAGS, 0
        ADD   r4, 1
        MOV   r3, FLAGS
        LD    r2, 70
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z | C
        CALL  expect_flags

        LD    r4, 0x12          ; 71: ADD r, n without carry clears both flags
        LD    FLAGS, Z | C
        ADD   r4, 0x34
        MOV   r3, FLAGS
        LD    r2, 71
        MOV   r0, r4
        LD    r1, 0x46
        CALL  expect
        LD    r1, 0
        CALL  expect_flags

        LD    r4, 0x80          ; 72: ADD r, r
        LD    r5, 0x81
        LD    FLAGS, Z
        ADD   r4, r5
        MOV   r3, FLAGS
        LD    r2, 72
        MOV   r0, r4
        LD    r1, 0x01
        CALL  expect
        LD    r1, C
        CALL  expect_flags

        LD    FLAGS, 0          ; 73: ADD into FLAGS: C, then the sum, then Z
        ADD   FLAGS, 0xC0
        MOV   r0, FLAGS
        LD    r2, 73
        LD    r1, 0x40
        CALL  expect

        LD    FLAGS, 0x15       ; 74: flag updates keep bits 0-5
        LD    r4, 0xFF
        INC   r4
        MOV   r0, FLAGS
        LD    r2, 74
        LD    r1, Z | C | 0x15
        CALL  expect

        LDW   p6, 0x12FF        ; 75: ADDW p, nn keeps the flags
        LD    FLAGS, Z | C
        ADDW  p6, 0x0001
        MOV   r3, FLAGS
        LDW   p8, 0x1300
        LD    r2, 75
        CALL  expect_word
        LD    r1, Z | C
        CALL  expect_flags

        LDW   p6, 0xFFFF        ; 76: ADDW p, p wraps and keeps the flags
        LDW   p4, 0x0002
        LD    FLAGS, 0
        ADDW  p6, p4
        MOV   r3, FLAGS
        LDW   p8, 0x0001
        LD    r2, 76
        CALL  expect_word
        LD    r1, 0
        CALL  expect_flags

        LD    r4, 0             ; 77: SUB r, n borrows
        LD    FLAGS, Z
        SUB   r4, 1
        MOV   r3, FLAGS
        LD    r2, 77
        MOV   r0, r4
        LD    r1, 0xFF
        CALL  expect
        LD    r1, C
        CALL  expect_flags

        LD    r4, 0x42          ; 78: SUB r, r to zero
        LD    r5, 0x42
        LD    FLAGS, C
        SUB   r4, r5
        MOV   r3, FLAGS
        LD    r2, 78
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z
        CALL  expect_flags

        LDW   p6, 0x1300        ; 79: SUBW p, nn keeps the flags
        LD    FLAGS, C
        SUBW  p6, 0x0001
        MOV   r3, FLAGS
        LDW   p8, 0x12FF
        LD    r2, 79
        CALL  expect_word
        LD    r1, C
        CALL  expect_flags

        LDW   p6, 0x0000        ; 80: SUBW p, p wraps and keeps the flags
        LDW   p4, 0x0001
        LD    FLAGS, Z
        SUBW  p6, p4
        MOV   r3, FLAGS
        LDW   p8, 0xFFFF
        LD    r2, 80
        CALL  expect_word
        LD    r1, Z
        CALL  expect_flags

        LD    r4, 0xFF          ; 81: INC wraps with Z and C
        LD    FLAGS, 0
        INC   r4
        MOV   r3, FLAGS
        LD    r2, 81
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z | C
        CALL  expect_flags

        LD    r4, 0x41          ; 82: INC
        LD    FLAGS, Z | C
        INC   r4
        MOV   r3, FLAGS
        LD    r2, 82
        MOV   r0, r4
        LD    r1, 0x42
        CALL  expect
        LD    r1, 0
        CALL  expect_flags

        LDW   p6, 0xFFFF        ; 83: INCW wraps and keeps the flags
        LD    FLAGS, C
        INCW  p6
        MOV   r3, FLAGS
        LDW   p8, 0x0000
        LD    r2, 83
        CALL  expect_word
        LD    r1, C
        CALL  expect_flags

        LD    r4, 0             ; 84: DEC borrows
        LD    FLAGS, Z
        DEC   r4
        MOV   r3, FLAGS
        LD    r2, 84
        MOV   r0, r4
        LD    r1, 0xFF
        CALL  expect
        LD    r1, C
        CALL  expect_flags

        LD    r4, 1             ; 85: DEC to zero
        LD    FLAGS, C
        DEC   r4
        MOV   r3, FLAGS
        LD    r2, 85
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z
        CALL  expect_flags

        LDW   p6, 0x1300        ; 86: DECW keeps the flags
        LD    FLAGS, Z | C
        DECW  p6
        MOV   r3, FLAGS
        LDW   p8, 0x12FF
        LD    r2, 86
        CALL  expect_word
        LD    r1, Z | C
        CALL  expect_flags

        LD    r4, 0x81          ; 87: SHL by 1
        LD    FLAGS, Z
        SHL   r4, 1
        MOV   r3, FLAGS
        LD    r2, 87
        MOV   r0, r4
        LD    r1, 0x02
        CALL  expect
        LD    r1, C
        CALL  expect_flags

        LD    r4, 0x01          ; 88: SHL by 8 shifts the last bit into C
        LD    FLAGS, 0
        SHL   r4, 8
        MOV   r3, FLAGS
        LD    r2, 88
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z | C
        CALL  expect_flags

        LD    r4, 0x01          ; 89: SHL by 9 clears C
        LD    FLAGS, C
        SHL   r4, 9
        MOV   r3, FLAGS
        LD    r2, 89
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z
        CALL  expect_flags

        LD    r4, 0x81          ; 90: SHL by 33 acts as by 1
        LD    FLAGS, 0
        SHL   r4, 33
        MOV   r3, FLAGS
        LD    r2, 90
        MOV   r0, r4
        LD    r1, 0x02
        CALL  expect
        LD    r1, C
        CALL  expect_flags

        LD    r4, 0x81          ; 91: SHL by 0 keeps the value and clears C
        LD    FLAGS, C
        SHL   r4, 0
        MOV   r3, FLAGS
        LD    r2, 91
        MOV   r0, r4
        LD    r1, 0x81
        CALL  expect
        LD    r1, 0
        CALL  expect_flags

        LD    r4, 0x01          ; 92: SHR by 1
        LD    FLAGS, 0
        SHR   r4, 1
        MOV   r3, FLAGS
        LD    r2, 92
        MOV   r0, r4
        LD    r1, 0
        CALL  expect
        LD    r1, Z | C
        CALL  expect_flags

        LD    r4, 0x80          ; 93: SHR is logical
        LD    FLAGS, C
        SHR   r4, 7
        MOV   r3, FLAGS
        LD    r2, 93
        MOV   r0, r4
        LD    r1, 0x01
        CALL  expect
        LD    r1, 0
        CALL  expect_flags

; ---------------------------------------------------------------------------
; 110-119: comparisons. C is set when the left operand is below the right.
compare:
        LD    r4, 3             ; 110: CMP r, n below
        CMP   r4, 5
        MOV   r3, FLAGS
        LD    r2, 110
        MOV   r0, r4
        LD    r1, 3
        CALL  expect
        LD    r1, C
        CALL  expect_flags

        LD    r4, 5             ; 111: CMP r, n equal
        CMP   r4, 5
        MOV   r3, FLAGS
        LD    r2, 111
        LD    r1, Z
        CALL  expect_flags

        LD    r4, 7             ; 112: CMP r, r above
        LD    r5, 5
        LD    FLAGS, Z | C
        CMP   r4, r5
        MOV   r3, FLAGS
        LD    r2, 112
        LD    r1, 0
        CALL  expect_flags

        LD    r4, 0x10          ; 113: CMP r, r below
        LD    r5, 0xF0
        CMP   r4, r5
        MOV   r3, FLAGS
        LD    r2, 113
        LD    r1, C
        CALL  expect_flags

        LDW   p4, 0x00FF        ; 114: CMPW p, nn below
        CMPW  p4, 0x0100
        MOV   r3, FLAGS
        LD    r2, 114
        LD    r1, C
        CALL  expect_flags

        LDW   p4, 0x1234        ; 115: CMPW p, nn equal
        CMPW  p4, 0x1234
        MOV   r3, FLAGS
        LD    r2, 115
        LD    r1, Z
        CALL  expect_flags

        LDW   p4, 0x8000        ; 116: CMPW p, p above
        LDW   p6, 0x7FFF
        LD    FLAGS, Z | C
        CMPW  p4, p6
        MOV   r3, FLAGS
        LD    r2, 116
        LD    r1, 0
        CALL  expect_flags
        MOVW  p6, p4            ; and the pair is unchanged
        LDW   p8, 0x8000
        CALL  expect_word

; ---------------------------------------------------------------------------
; 120-129: ports. The test port keeps the last byte written to it.
ports:
        LD    r4, 0xE1          ; 120: OUT port, r and IN r, port
        OUT   TEST_PORT, r4
        IN    r0, TEST_PORT
        LD    r2, 120
        LD    r1, 0xE1
        CALL  expect

        LD    r4, 0xE2          ; 121: OUT r, r and IN r, r
        LD    r5, TEST_PORT
        OUT   r5, r4
        IN    r0, r5
        LD    r2, 121
        LD    r1, 0xE2
        CALL  expect

        IN    r0, 0x81          ; 122: a port nothing answers reads 0
        LD    r2, 122
        LD    r1, 0
        CALL  expect

; ---------------------------------------------------------------------------
; 130-139: interrupts. The frame interrupt comes once per frame while
; interrupts are enabled; taking it disables them, RETI enables them again.
interrupts:
        CALL  spin_frames       ; 130: no interrupt before EI
        LDW   p4, irq_count
        LD    r0, [p4]
        LD    r2, 130
        LD    r1, 0
        CALL  expect

        EI                      ; 131: after EI the frame interrupt arrives
.wait1: LDW   p4, irq_count     ;      and, thanks to RETI, a second one
        LD    r0, [p4]
        CMP   r0, 2
        JC    .wait1
.wait1_end:
        LD    r2, 131
        LD    r1, 2
        CALL  expect

        LDW   p4, irq_sp        ; 132: the interrupt pushed PC: SP was 0xFFFD
        LD    r6, [p4]          ;      on entry, 0xFFF9 after the handler's pushes
        INCW  p4
        LD    r7, [p4]
        LDW   p8, 0xFFF9
        LD    r2, 132
        CALL  expect_word

        LDW   p4, irq_return    ; 133: the interrupt returned into the wait loop
        LD    r6, [p4]
        INCW  p4
        LD    r7, [p4]
        LD    r2, 133
        CMPW  p6, .wait1
        JC    .bad_return
        CMPW  p6, .wait1_end
        JC    .return_ok
.bad_return:
        CALL  report
.return_ok:

        DI                      ; 134: DI keeps the interrupt away
        LDW   p4, irq_count
        ST    [p4], 0
        CALL  spin_frames
        LDW   p4, irq_count
        LD    r0, [p4]
        LD    r2, 134
        LD    r1, 0
        CALL  expect
        JMP   dma

; Runs about three frames' worth of instructions.
spin_frames:
        LDW   p4, 16000
.loop:  DECW  p4
        CMPW  p4, 0
        JNZ   .loop
        RET

; ---------------------------------------------------------------------------
; 140-149: DMA. A transfer runs right after the instruction that starts it.
dma:
        LDW   p4, DMA_SOURCE    ; 140: a block from ROM into RAM
        LDW   p6, bytes8
        STW   [p4], p6
        LDW   p4, DMA_DEST
        LDW   p6, dma_target
        STW   [p4], p6
        LDW   p4, DMA_LENGTH
        LDW   p6, 8
        STW   [p4], p6
        LDW   p4, DMA_CONTROL
        ST    [p4], 1
        LDW   p4, dma_target
        LD    r0, [p4]
        LD    r2, 140
        LD    r1, 0x11
        CALL  expect
        LDW   p4, dma_target + 7
        LD    r0, [p4]
        LD    r1, 0x88
        CALL  expect
        LDW   p4, dma_target + 8
        LD    r0, [p4]
        LD    r1, 0
        CALL  expect

        LDW   p4, DMA_CONTROL   ; 141: control reads 0 after a transfer,
        LD    r0, [p4]          ;      the other registers keep their values
        LD    r2, 141
        LD    r1, 0
        CALL  expect
        LDW   p4, DMA_LENGTH + 1
        LD    r0, [p4]
        LD    r1, 8
        CALL  expect

        LDW   p4, DMA_CONTROL   ; 142: bits 1-7 alone start nothing
        ST    [p4], 0xFE
        LD    r0, [p4]
        LD    r2, 142
        LD    r1, 0xFE
        CALL  expect
        ST    [p4], 0

        LDW   p4, DMA_SOURCE    ; 143: destination one above the source
        LDW   p6, dma_target    ;      repeats the first byte
        STW   [p4], p6
        LDW   p4, DMA_DEST
        LDW   p6, dma_target + 1
        STW   [p4], p6
        LDW   p4, DMA_CONTROL
        ST    [p4], 1
        LDW   p4, dma_target + 7
        LD    r0, [p4]
        LD    r2, 143
        LD    r1, 0x11
        CALL  expect
        LDW   p4, dma_target + 8
        LD    r0, [p4]
        CALL  expect

; ---------------------------------------------------------------------------
; 150-159: cartridge banks. Bank 1 shows at 0x4000 after start.
banks:
        LDW   p4, bank_mark     ; 150: bank 1 is selected at start
        LD    r0, [p4]
        LD    r2, 150
        LD    r1, 0xB1
        CALL  expect

        LDW   p4, 0x4000        ; 151: writing 2 selects bank 2
        ST    [p4], 2
        LDW   p4, bank_mark
        LD    r0, [p4]
        LD    r2, 151
        LD    r1, 0xB2
        CALL  expect

        LD    r0, 0             ; 152: code in bank 2 runs
        CALL  bank2_routine
        LD    r2, 152
        LD    r1, 0x22
        CALL  expect

        LDW   p4, 0x4000        ; 153: writing 0 selects nothing
        ST    [p4], 0
        LDW   p4, bank_mark
        LD    r0, [p4]
        LD    r2, 153
        LD    r1, 0xB2
        CALL  expect

        LDW   p4, 0x7FFF        ; 154: back to bank 1
        ST    [p4], 1
        LDW   p4, bank_mark
        LD    r0, [p4]
        LD    r2, 154
        LD    r1, 0xB1
        CALL  expect

; ---------------------------------------------------------------------------
; 160-169: the rest of the memory map.
devices:
        LDW   p4, STORAGE       ; 160: save RAM keeps what is written
        LDW   p6, 'S' << 8 | 'E'
        STW   [p4], p6
        LDW   p4, STORAGE + 2
        LDW   p6, 'L' << 8 | 'F'
        STW   [p4], p6
        LDW   p4, STORAGE + 3
        LD    r0, [p4]
        LD    r2, 160
        LD    r1, 'F'
        CALL  expect

        LDW   p4, VRAM_SPARE    ; 161: video memory
        ST    [p4], 0x5D
        LD    r0, [p4]
        LD    r2, 161
        LD    r1, 0x5D
        CALL  expect

        LDW   p4, APU_WAVE      ; 162: audio registers read back
        ST    [p4], 0xAB
        LD    r0, [p4]
        LD    r2, 162
        LD    r1, 0xAB
        CALL  expect
        ST    [p4], 0
        LDW   p4, APU_NOTE
        ST    [p4], 69
        LD    r0, [p4]
        LD    r1, 69
        CALL  expect
        LDW   p4, APU_VOLUME    ;      (the volume stays 0: the test is silent)
        LD    r0, [p4]
        LD    r1, 0
        CALL  expect

        LDW   p4, PAD1          ; 163: the controller bytes are writable
        LD    r8, [p4]
        ST    [p4], 0x5A
        LD    r0, [p4]
        ST    [p4], r8
        LD    r2, 163
        LD    r1, 0x5A
        CALL  expect

        LDW   p4, 0xF000        ; 164: unmapped memory reads 0
        ST    [p4], 0x99
        LD    r0, [p4]
        LD    r2, 164
        LD    r1, 0
        CALL  expect

        LDW   p4, 0xFF80        ; 165: the stack page on the bus
        ST    [p4], 0x6B
        MOV   r0, r(16 + 0x80)
        LD    r2, 165
        LD    r1, 0x6B
        CALL  expect

; ---------------------------------------------------------------------------
; The verdict, on the test port and on the screen: tile 0 fills every cell,
; so making it solid paints the screen in palette entry 0.
verdict:
        LDW   p4, DMA_SOURCE    ; plane B of tile 0: eight rows of 0xFF
        LDW   p6, solid_rows
        STW   [p4], p6
        LDW   p4, DMA_DEST
        LDW   p6, PLANE_B
        STW   [p4], p6
        LDW   p4, DMA_LENGTH
        LDW   p6, 8
        STW   [p4], p6
        LDW   p4, DMA_CONTROL
        ST    [p4], 1

        LDW   p4, PALETTE       ; entry 0: blue, green, red
        LDW   p0, failed
        LD    r0, [p0]
        CMP   r0, 0
        JNZ   .fail
        ST    [p4], 0x20
        INCW  p4
        ST    [p4], 0xC0
        INCW  p4
        ST    [p4], 0x20
        LD    r0, PASS_CODE
        OUT   TEST_PORT, r0
        HALT
.fail:  ST    [p4], 0x20
        INCW  p4
        ST    [p4], 0x20
        INCW  p4
        ST    [p4], 0xD0
        LD    r0, FAIL_CODE
        OUT   TEST_PORT, r0
        HALT

solid_rows:
        .fill 8, 0xFF

; ---------------------------------------------------------------------------
; Bank 1 (ROM offsets 0x4000-0x7FFF) and bank 2 each start with their mark.
.org 0x4000
bank_mark:
        .byte 0xB1

.bank 2
        .byte 0xB2
bank2_routine:
        LD    r0, 0x22
        RET
