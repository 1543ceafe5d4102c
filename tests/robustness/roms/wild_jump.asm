; Jumps into the unmapped gap above save RAM and lets the CPU run on through
; the device registers, the stack window and around the address space.
.vector 0, frame
.start
        EI
        JMP   0xF000
frame:  RETI
