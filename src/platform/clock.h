#pragma once
// Milliseconds and UTC time. Tests and recordings install a fixed clock so
// that nothing depends on when they run.
#include <cstdint>

namespace vl {

struct UtcTime {
  uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // A millisecond counter that wraps at 2^32.
  virtual uint32_t Milliseconds() = 0;
  virtual UtcTime Now() = 0;
};

// The process-wide clock: the system's until another is installed.
Clock& appClock();
// Installs `c` (not owned) and returns the previous one; nullptr restores the system clock.
Clock* setAppClock(Clock* c);

// A clock that only moves when told to.
class FixedClock : public Clock {
 public:
  explicit FixedClock(uint32_t ms = 0) : ms(ms) {}
  uint32_t Milliseconds() override { return ms; }
  UtcTime Now() override { return time; }
  uint32_t ms;
  UtcTime time;
};

class ScopedClock {
 public:
  explicit ScopedClock(Clock& c) : previous(setAppClock(&c)) {}
  ~ScopedClock() { setAppClock(previous); }

 private:
  Clock* previous;
};

}  // namespace vl
