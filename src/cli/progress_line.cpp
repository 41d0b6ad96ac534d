#include "cli/progress_line.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

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

namespace {

std::string twoDigits(long long value) {
  return (value < 10 ? "0" : "") + std::to_string(value);
}

// "0:07", "12:30", "3:05:09": whole seconds, rounded up so that "0:00" means done.
std::string clockTime(double seconds) {
  const auto whole = static_cast<long long>(std::ceil(std::min(seconds, 359999.0)));
  if (whole >= 3600) {
    return std::to_string(whole / 3600) + ":" + twoDigits(whole / 60 % 60) + ":" + twoDigits(whole % 60);
  }
  return std::to_string(whole / 60) + ":" + twoDigits(whole % 60);
}

}  // namespace

std::string RateAndTimeLeft(std::int32_t done, std::int32_t total, double elapsedSeconds) {
  if (done <= 0 || !(elapsedSeconds > 0)) return {};
  const double rate = done / elapsedSeconds;
  char text[32];
  std::snprintf(text, sizeof text, rate < 10 ? "%.1f" : "%.0f", rate);
  const double left = std::max(0, total - done) / rate;
  return std::string("  ") + text + " files/s  " + clockTime(left) + " left";
}

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

ProgressDisplay::ProgressDisplay(std::ostream& stream, std::int32_t total, SecondsClock clock)
    : stream_(stream), total_(total), clock_(std::move(clock)), start_(clock_()) {}

void ProgressDisplay::update(float percent) {
  ++done_;
  std::string line = ProgressLine(percent, done_, total_) +
                     RateAndTimeLeft(done_, total_, clock_() - start_);
  const std::size_t width = line.size();
  if (width < drawnWidth_) line.append(drawnWidth_ - width, ' ');
  drawnWidth_ = width;
  stream_ << '\r' << line << std::flush;
}

void ProgressDisplay::finish() {
  if (done_ > 0) stream_ << '\n' << std::flush;
}

}  // namespace parvane::cli
