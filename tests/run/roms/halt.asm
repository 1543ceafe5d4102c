; Stops itself at once with HALT.
.start
        HALT
