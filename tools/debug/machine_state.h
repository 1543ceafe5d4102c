// The machine's whole state between two frames as bytes, for the debugger's
// history: registers and flags, work RAM, video memory, save RAM, the
// device registers, the selected bank, the frame count and the test port's
// last byte. Used until the machine library offers snapshots of its own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct Computer;

void MachineState_save(const Computer* computer, std::vector<uint8_t>* out);
// Leaves the machine untouched and gives the reason when `data` does not fit.
bool MachineState_load(Computer* computer, std::span<const uint8_t> data, std::string* error);
