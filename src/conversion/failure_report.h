// What a user is told when a run could not convert everything: the closing
// message naming the files that failed, and the box of a store that could not
// be prepared.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "conversion/convert.h"

namespace parvane::conversion {

// How many files failed, then up to `listed` of them, one a line, each with its
// reason; a last line tells how many more were not named. Lines end in CR LF.
std::string FailureReportText(const std::vector<ImportError>& failures, std::size_t listed = 10);
// The same for a run; a failure of the store itself is told first, once.
std::string FailureReportText(const RunResult& result, std::size_t listed = 10);
// "The store failed: ..." for a run whose store failed.
std::string StoreFailureLine(const StoreError& error);

// One file's line: what could not be done with it, and why.
std::string FailureLine(const ImportError& failure);

// The box shown when the store cannot be prepared, and its three lines: a
// fixed first line, the cause, and where to read about mail profiles.
extern const char* const kPreparationErrorTitle;
std::string PreparationErrorText(const PreparationError& error);
// The cause alone, as one line.
std::string PreparationCause(const PreparationError& error);

}  // namespace parvane::conversion
