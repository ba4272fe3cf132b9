// The chip's memories as a small text file, so that a simulated board
// served to a separate host process keeps its contents between runs:
//
//   quillon-sim state 1
//   device dsPIC30F4013
//   P 000100 123456     program instruction (address, value), non-blank only
//   E 7FFC00 1234       data EEPROM word, non-blank only
//   X 8005BE 0000BB     executive instruction, non-blank only
//   C 0 FFFF            configuration register k, all of them
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "sim/target.h"

namespace quillon::sim {

void SaveState(const Target& target, std::ostream& out);
// Saves to `path` (nothing when it is empty), written aside and renamed so
// that a run cut short never leaves half a chip.
void SaveStateFile(const Target& target, const std::string& path);
// Replaces the memories with the file's. False (with a reason, target
// unchanged where the header is wrong) for another device or a bad line.
bool LoadState(Target& target, std::istream& in, std::string& error);

}  // namespace quillon::sim
