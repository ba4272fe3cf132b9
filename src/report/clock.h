// Time of day and pauses, injected so that tests control both.
#pragma once

#include <cstdint>

namespace quillon::report {

struct LocalTime {
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
  virtual void SleepMs(int milliseconds) = 0;
};

// The machine's local time and real sleeps.
class SystemClock : public Clock {
 public:
  LocalTime Now() override;
  void SleepMs(int milliseconds) override;
};

// A clock that only moves when told to or when slept on; sleeps cost nothing.
class ManualClock : public Clock {
 public:
  explicit ManualClock(LocalTime start = {}) : ms_(ToMs(start)) {}
  LocalTime Now() override;
  void SleepMs(int milliseconds) override { Advance(milliseconds); }
  void Advance(std::int64_t milliseconds) {
    ms_ += milliseconds;
    slept_ms_ += milliseconds;
  }
  std::int64_t ElapsedMs() const { return slept_ms_; }

 private:
  static std::int64_t ToMs(LocalTime t) {
    return ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000;
  }
  std::int64_t ms_;
  std::int64_t slept_ms_ = 0;
};

}  // namespace quillon::report
