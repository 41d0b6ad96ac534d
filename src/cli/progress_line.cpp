#include "cli/progress_line.h"

#include <algorithm>
#include <cmath>

namespace parvane::cli {

std::string ProgressLine(float percent, std::int32_t done, std::int32_t total) {
  constexpr int kWidth = 20;
  const double clamped = std::clamp(static_cast<double>(percent), 0.0, 100.0);
  const int marks = static_cast<int>(std::floor(clamped / 100.0 * kWidth));
  const int whole = static_cast<int>(std::floor(clamped));
  std::string line = "[" + std::string(static_cast<std::size_t>(marks), '#') +
                     std::string(static_cast<std::size_t>(kWidth - marks), ' ') + "] ";
  const std::string number = std::to_string(whole);
  line += std::string(3 - std::min<std::size_t>(3, number.size()), ' ') + number + "%  ";
  return line + std::to_string(done) + " of " + std::to_string(total);
}

void ProgressDisplay::update(float percent) {
  ++done_;
  stream_ << '\r' << ProgressLine(percent, done_, total_) << std::flush;
}

void ProgressDisplay::finish() {
  if (done_ > 0) stream_ << '\n' << std::flush;
}

}  // namespace parvane::cli
