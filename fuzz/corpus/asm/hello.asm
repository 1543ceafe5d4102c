; Writes "Hi" to the test port and stops.
TEST_PORT = 0x80

.vector 0, frame
.start
main:
        LDW   p2, message
.next:  LD    r0, [p2]
        CMP   r0, 0
        JZ    .done
        OUT   TEST_PORT, r0
        INCW  p2
        JMP   .next
.done:  HALT

frame:  RETI

message:
        .asciz "Hi"
