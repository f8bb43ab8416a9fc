#pragma once
// Time and chance for tests: a clock that stands still until told to move,
// waits that only count, and random bytes that repeat from run to run.

#include <cstdint>
#include <functional>

#include "clock.h"

namespace qorvex::testing {

class FakeClock : public Clock, public Random {
 public:
  std::int64_t now = 1738367999;  // 2025-01-31 23:59:59 UTC
  unsigned sleptMilliseconds = 0;
  // Called after each wait with the time waited in all.
  std::function<void(unsigned)> afterSleep;

  std::int64_t nowUnixSeconds() override { return now; }
  void sleepMilliseconds(unsigned milliseconds) override {
    sleptMilliseconds += milliseconds;
    if (afterSleep) afterSleep(sleptMilliseconds);
  }
  void randomBytes(unsigned char* out, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i)
      out[i] = static_cast<unsigned char>(++counter_ * 37u + i);
  }

 private:
  unsigned counter_ = 0;
};

}  // namespace qorvex::testing
