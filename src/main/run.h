// The frame loop: runs the machine in real time, one frame of instructions,
// then the picture, the frame interrupt, host events, present and sleep,
// until the CPU stops.
#pragma once

struct Computer;

void Computer_run(Computer* computer);
