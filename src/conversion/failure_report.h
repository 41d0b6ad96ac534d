// The closing message of a run in which some rows could not be converted.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "conversion/conversion_run.h"

namespace parvane::conversion {

// How many files failed, then up to `listed` of them, one a line, each with its
// reason; a last line tells how many more were not named. Lines end in CR LF.
std::string FailureReportText(const std::vector<RowFailure>& failures, std::size_t listed = 10);

// One row's line: the file and the reason (only the reason when it names the
// file already).
std::string FailureLine(const RowFailure& failure);

}  // namespace parvane::conversion
