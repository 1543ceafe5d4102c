; Exercises what the runner and the window must agree on: the frame budget
; (a loop counts its rounds between frame interrupts and reports the low
; byte), the frame interrupt, bank switches and save RAM. Each of the first
; 20 frame interrupts writes the frame number n to save RAM at 0xE000 + n and
; selects bank (n AND 3) + 1; the 20th stops the machine.
.vector 0, frame
.start
        LD    r6, 0
        LDW   p4, 0
        EI
.loop:  INCW  p4
        JMP   .loop

frame:  OUT   0x80, r5          ; rounds of the loop since the last frame, low byte
        LDW   p4, 0
        INC   r6
        LDW   p8, 0xE000
        MOV   r9, r6
        ST    [p8], r6
        MOV   r7, r6
        AND   r7, 3
        INC   r7
        LDW   p8, 0x4000
        ST    [p8], r7
        CMP   r6, 20
        JZ    .done
        RETI
.done:  HALT
