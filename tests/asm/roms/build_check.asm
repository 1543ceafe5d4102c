; Assembled at build time by lumacor_add_rom; tools_e2e_test checks the bytes.
.include "build_check_inc.asm"

.vector 0, frame
.start
        OUT   TEST_PORT, r0
frame:  RETI
