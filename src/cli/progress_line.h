// The progress display of a terminal: one line redrawn in place.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace parvane::cli {

// "[##########          ]  50%  2 of 4", 20 marks wide.
std::string ProgressLine(float percent, std::int32_t done, std::int32_t total);

class ProgressDisplay {
 public:
  ProgressDisplay(std::ostream& stream, std::int32_t total) : stream_(stream), total_(total) {}
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;
  void update(float percent);  // one more file done
  void finish();               // ends the line, if one was drawn

 private:
  std::ostream& stream_;
  std::int32_t total_;
  std::int32_t done_ = 0;
};

}  // namespace parvane::cli
