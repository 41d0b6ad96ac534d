// The module modMain: sorting and de-duplicating a list of texts in place, in
// the binary order of text_order.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace parvane::conversion {

// Sorts positions low..high (inclusive) ascending; positions outside the range
// are not touched. An empty or one-entry range (low >= high) does nothing; a
// range outside the list raises std::out_of_range. The partition is the classic
// one around the entry at the midpoint (rounded half to even), but only the
// smaller side is sorted recursively, so the depth stays logarithmic.
void QuickSort(std::vector<std::string>& list, std::int32_t low, std::int32_t high);

// Blanks every entry equal to the entry right before it in the list as given
// (a blank entry ends a run of equals), then drops all blank entries, keeping
// the order of the rest.
void RemoveDuplicates(std::vector<std::string>& list);

}  // namespace parvane::conversion
