#include "platform/clock.h"

#include <chrono>
#include <ctime>

namespace vl {
namespace {

class SystemClock : public Clock {
 public:
  uint32_t Milliseconds() override {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  UtcTime Now() override {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    gmtime_r(&t, &tm);
    UtcTime u;
    u.year = uint16_t(tm.tm_year + 1900);
    u.month = uint16_t(tm.tm_mon + 1);
    u.dayOfWeek = uint16_t(tm.tm_wday);
    u.day = uint16_t(tm.tm_mday);
    u.hour = uint16_t(tm.tm_hour);
    u.minute = uint16_t(tm.tm_min);
    u.second = uint16_t(tm.tm_sec);
    u.milliseconds = uint16_t(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return u;
  }
};

SystemClock systemClock;
Clock* current = nullptr;

}  // namespace

Clock& appClock() { return current ? *current : systemClock; }

Clock* setAppClock(Clock* c) {
  Clock* previous = current ? current : &systemClock;
  current = c;
  return previous;
}

}  // namespace vl
