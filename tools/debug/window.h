// The adapter's window: the same display, sound and pads as lumacor's, paced
// as lumacor paces its frames, for launches without noDisplay. While the
// program is stopped the window keeps its last picture, and input that
// arrives is held back until the next frame starts, as on the machine.
// It knows only the session it shows.
#pragma once

#include <string>

#include "session.h"

bool Window_open(Session* session, std::string* error);
void Window_close(Session* session);
// A frame ended while running: shows it and keeps the pace. Closing the
// window then ends the program.
void Window_frame_shown(Session* session);
// Polls the window's events while the program is stopped; true once the
// window has been closed.
bool Window_poll(Session* session);
