#include "conversion/time_stamp.h"

#include <ctime>

namespace parvane::conversion {

LocalTime SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &now);
#else
  localtime_r(&now, &parts);
#endif
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::string FormatTimeStamp(const LocalTime& time) {
  auto twoDigits = [](int value) {
    value = ((value % 100) + 100) % 100;
    return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
  };
  return std::to_string(time.day) + "." + std::to_string(time.month) + "." +
         twoDigits(time.year) + " " + std::to_string(time.hour) + "." +
         std::to_string(time.minute) + "." + twoDigits(time.second);
}

}  // namespace parvane::conversion
