; Writes noise into every byte of video memory and of the device registers
; (DMA, sound, controller) again and again: the DMA controller then copies
; blocks of random length between random addresses. Stops after 20 rounds.
VRAM = 0x8000
IO_FIRST = 0xFF00
IO_END = 0xFF0C

.start
        LD    r0, 0xB7          ; noise state
        LD    r9, 20            ; rounds left
round:  LDW   p2, VRAM
.vram:  CALL  next
        ST    [p2], r0
        INCW  p2
        CMPW  p2, 0xA000
        JNZ   .vram
        LDW   p2, IO_FIRST
.io:    CALL  next
        ST    [p2], r0
        INCW  p2
        CMPW  p2, IO_END
        JNZ   .io
        DEC   r9
        JNZ   round
        HALT

; One step of an 8-bit Galois LFSR in r0 (taps 0xB8).
next:   SHR   r0, 1
        JNC   .done
        XOR   r0, 0xB8
.done:  RET
