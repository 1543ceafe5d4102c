// The adapter's window: the same display, sound and pads as lumacor's, paced
// as lumacor paces its frames, for launches without noDisplay. While the
// program is stopped the window keeps its last picture, and input that
// arrives is held back until the next frame starts, as on the machine.
#pragma once

#include "requests.h"

AdapterHost Window_host();
// Polls the window's events while the program is stopped; closing it ends
// the session.
void Window_poll(Adapter* adapter);
