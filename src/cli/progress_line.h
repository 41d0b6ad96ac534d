// The progress display of a terminal: one line redrawn in place.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace parvane::cli {

// "[##########          ]  50%  2 of 4", 20 marks wide.
std::string ProgressLine(float percent, std::int32_t done, std::int32_t total);

// "  12.5 files/s  1:20 left": the run's average rate so far and the time the
// files still to do take at that rate; empty until a file is done in a
// measurable time.
std::string RateAndTimeLeft(std::int32_t done, std::int32_t total, double elapsedSeconds);

// Seconds on a clock that only goes forward (steady), from any origin.
using SecondsClock = std::function<double()>;
double SteadySeconds();

class ProgressDisplay {
 public:
  // The clock is read when the display is made (the run's start) and at each file.
  ProgressDisplay(std::ostream& stream, std::int32_t total, SecondsClock clock = SteadySeconds);
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;
  void update(float percent);  // one more file done
  void finish();               // ends the line, if one was drawn

 private:
  std::ostream& stream_;
  std::int32_t total_;
  std::int32_t done_ = 0;
  SecondsClock clock_;
  double start_;
  std::size_t drawnWidth_ = 0;  // of the line on the terminal, to blank what a shorter one leaves
};

}  // namespace parvane::cli
