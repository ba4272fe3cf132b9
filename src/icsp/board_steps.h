// The plain-ICSP steps a board performs in one of two ways: as instruction
// batches (firmware 1.0 and older) or as its built-in letters.
#pragma once

#include <cstdint>

#include "link/link.h"

namespace quillon::icsp {

class BoardSteps {
 public:
  virtual ~BoardSteps() = default;
  virtual void GotoResetVector100(link::Link& link) const = 0;
  virtual void GotoResetVector200(link::Link& link) const = 0;
  // NVMKEY unlock (dsPIC30F). Left pending in batch mode; the letter goes
  // out at once, ahead of anything pending.
  virtual void NvmUnlock(link::Link& link) const = 0;
  // Sets WR and lets the part time the write itself (dsPIC33F/PIC24).
  virtual void StartNvmWrite(link::Link& link) const = 0;
  // Sets WR, waits n + 1 times, leaves the WR clear pending (dsPIC30F).
  virtual void TimedNvmWrite(link::Link& link, int n) const = 0;
  // n waits, then polls WR through VISI, at most 101 times (dsPIC33F/PIC24).
  virtual void PollNvmWrite(link::Link& link, int n) const = 0;
  // Reads the quad at TBLPAG:W6 into W0..W5 (packed) and advances W6 by 8.
  virtual void ReadCodeQuad(link::Link& link) const = 0;
  // Brings W0..W5 to the host.
  virtual void FetchCodeQuad(link::Link& link, std::uint16_t (&words)[6]) const = 0;
  // Writes W0..W5 (packed) into the latches at TBLPAG:W7 and advances W7 by 8.
  virtual void LoadCodeLatches(link::Link& link) const = 0;
  // Reads four EEPROM words at TBLPAG:W6 into W0..W3. Never sends in batch
  // mode; the letter goes out without sending the pending batch.
  virtual void ReadDataQuad(link::Link& link) const = 0;
  // Brings W0..W3 to the host. The last NOP stays pending in batch mode.
  virtual void FetchDataQuad(link::Link& link, std::uint16_t (&words)[4]) const = 0;
  // Writes W0..W3 into the EEPROM latches at TBLPAG:W7 and advances W7 by 8.
  virtual void LoadDataLatches(link::Link& link) const = 0;
};

const BoardSteps& StepsFor(std::uint16_t firmware);

}  // namespace quillon::icsp
