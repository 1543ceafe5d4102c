; Returns from the outermost level, which stops the machine.
.start
        RET
