#include "conversion/failure_report.h"

namespace parvane::conversion {

std::string FailureLine(const RowFailure& failure) {
  if (!failure.file.empty() && failure.reason.find(failure.file) != std::string::npos) {
    return failure.reason;
  }
  return failure.file + " - " + failure.reason;
}

std::string FailureReportText(const std::vector<RowFailure>& failures, std::size_t listed) {
  std::string text = std::to_string(failures.size()) + " file(s) could not be converted:";
  std::size_t shown = 0;
  for (const auto& failure : failures) {
    if (shown == listed) break;
    text += "\r\n" + FailureLine(failure);
    ++shown;
  }
  if (failures.size() > shown) {
    text += "\r\n... and " + std::to_string(failures.size() - shown) + " more.";
  }
  return text;
}

}  // namespace parvane::conversion
