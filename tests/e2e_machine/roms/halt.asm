; Stops at the first instruction.
.start
        HALT
