; Stops itself with a RET at the outermost level, after a call and return.
.start
        CALL  routine
        RET
routine:
        RET
