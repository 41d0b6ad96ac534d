#include "conversion/list_sort.h"

#include <stdexcept>
#include <utility>

#include "conversion/text_order.h"

namespace parvane::conversion {

namespace {

// (low + high) / 2, a half going to the even neighbour.
std::int32_t midpoint(std::int32_t low, std::int32_t high) {
  const std::int64_t sum = std::int64_t{low} + high;
  std::int64_t half = sum / 2;
  if (sum % 2 != 0 && half % 2 != 0) ++half;
  return static_cast<std::int32_t>(half);
}

std::string& at(std::vector<std::string>& list, std::int32_t position) {
  return list[static_cast<std::size_t>(position)];
}

}  // namespace

void QuickSort(std::vector<std::string>& list, std::int32_t low, std::int32_t high) {
  if (low >= high) return;
  if (low < 0 || static_cast<std::size_t>(high) >= list.size()) {
    throw std::out_of_range("QuickSort: range outside the list");
  }
  while (low < high) {
    std::int32_t i = low, j = high;
    const std::string pivot = at(list, midpoint(low, high));
    do {
      while (i < high && TextLess(at(list, i), pivot)) ++i;
      while (j > low && TextLess(pivot, at(list, j))) --j;
      if (i > j) break;
      std::swap(at(list, i), at(list, j));
      ++i;
      --j;
    } while (i <= j);
    // Sides low..j and i..high: recurse into the smaller, loop on the larger.
    if (j - low < high - i) {
      if (low < j) QuickSort(list, low, j);
      low = i;
    } else {
      if (i < high) QuickSort(list, i, high);
      high = j;
    }
  }
}

void RemoveDuplicates(std::vector<std::string>& list) {
  const std::size_t count = list.size();
  // Blanking pass: i walks the list, i + k is the neighbour compared with it.
  std::size_t i = 0, k = 1;
  while (i + k < count) {
    if (list[i].empty()) {
      ++i;
    } else if (list[i] == list[i + k]) {
      list[i + k].clear();
      ++k;
    } else {
      k = 1;
      ++i;
    }
  }
  // Compacting pass.
  std::size_t w = 0;
  for (std::size_t r = 0; r < count; ++r) {
    if (list[r].empty()) continue;
    if (r != w) list[w] = std::move(list[r]);
    ++w;
  }
  list.resize(w);
}

}  // namespace parvane::conversion
