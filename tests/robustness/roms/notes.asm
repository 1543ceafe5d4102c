; Plays every note value 0..255 at full volume, cycling through the four
; waveforms, each held for about two thousand instructions, then stops.
APU = 0xFF07

.start
        LDW   p2, APU
        LD    r0, 0            ; note
.note:  MOV   r1, r0
        AND   r1, 3
        ST    [p2], r1          ; waveform
        INCW  p2
        ST    [p2], r0          ; note
        INCW  p2
        ST    [p2], 255         ; volume
        LDW   p2, APU
        LD    r5, 0
.hold:  NOP
        NOP
        NOP
        NOP
        NOP
        NOP
        DEC   r5
        JNZ   .hold
        INC   r0
        JNZ   .note
        HALT
