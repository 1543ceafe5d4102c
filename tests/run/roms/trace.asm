; Three instructions for the trace format.
.start
        LD    r0, 0x12
        ADD   r0, 0xF0
        HALT
