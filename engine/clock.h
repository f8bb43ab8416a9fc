#pragma once
// Time and chance: what a run asks of the system besides its files. Backups
// are named after the time, retries wait between tries, and temporary files
// are named from random bytes. Tests put their own in place of the system's.

#include <cstddef>
#include <cstdint>

namespace qorvex {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 UTC, floored.
  virtual std::int64_t nowUnixSeconds() = 0;
  // Waits; used between tries of an operation that another process blocks.
  virtual void sleepMilliseconds(unsigned milliseconds) = 0;
};

class Random {
 public:
  virtual ~Random() = default;
  // Bytes from the system's random generator.
  virtual void randomBytes(unsigned char* out, std::size_t count) = 0;
};

// The system's, from the platform's backend.
Clock& systemClock();
Random& systemRandom();

}  // namespace qorvex
