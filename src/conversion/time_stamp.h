// The time stamp of a new store, "d.m.YY H.m.ss", and the clock it is read from.
#pragma once

#include <functional>
#include <string>

namespace parvane::conversion {

struct LocalTime {
  int year = 0;    // e.g. 2026
  int month = 1;   // 1..12
  int day = 1;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59
};

// Read once for every stamp; tests put a fixed or stepping clock here.
using Clock = std::function<LocalTime()>;

LocalTime SystemLocalTime();

// Day and month without leading zero, two-digit year, hour and minutes without
// leading zero, seconds with two digits: 6 December 2026 09:05:07 gives
// "6.12.26 9.5.07".
std::string FormatTimeStamp(const LocalTime& time);

}  // namespace parvane::conversion
