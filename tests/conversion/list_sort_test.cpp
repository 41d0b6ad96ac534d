// QuickSort and RemoveDuplicates over the folder list.
#include "conversion/list_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "conversion/text_order.h"

namespace parvane::conversion {
namespace {

using List = std::vector<std::string>;

TEST(QuickSort, OneEntryRangeAndEmptyRangeChangeNothing) {
  List list = {"b", "a", "c"};
  QuickSort(list, 1, 1);
  EXPECT_EQ(list, (List{"b", "a", "c"}));
  QuickSort(list, 2, 1);
  EXPECT_EQ(list, (List{"b", "a", "c"}));
}

TEST(QuickSort, SortsBinaryCaseSensitive) {
  List list = {"C:\\b", "C:\\a", "C:\\A"};
  QuickSort(list, 0, 2);
  EXPECT_EQ(list, (List{"C:\\A", "C:\\a", "C:\\b"}));
  List equal = {"x", "x"};
  QuickSort(equal, 0, 1);
  EXPECT_EQ(equal, (List{"x", "x"}));
}

TEST(QuickSort, TouchesOnlyTheGivenRange) {
  List list = {"z", "d", "c", "b", "a", ""};
  QuickSort(list, 1, 3);
  EXPECT_EQ(list, (List{"z", "b", "c", "d", "a", ""}));
  QuickSort(list, 0, 4);  // the last slot stays out, as the run sorts
  EXPECT_EQ(list, (List{"a", "b", "c", "d", "z", ""}));
}

TEST(QuickSort, RangeOutsideTheListRaises) {
  List list = {"b", "a"};
  EXPECT_THROW(QuickSort(list, 0, 2), std::out_of_range);
  EXPECT_THROW(QuickSort(list, -1, 1), std::out_of_range);
}

TEST(QuickSort, MatchesAReferenceSortOnRandomLists) {
  std::mt19937 random(11);
  const List alphabet = {"a", "A", "b", "\\", "Mail", "\xEF\xBC\x81", "\xF0\x9F\x98\x80", ""};
  for (int round = 0; round < 200; ++round) {
    List list;
    const auto size = 1 + random() % 40;
    for (unsigned n = 0; n < size; ++n) {
      list.push_back(alphabet[random() % alphabet.size()] + alphabet[random() % alphabet.size()]);
    }
    List expected = list;
    std::sort(expected.begin(), expected.end(), TextLess);
    QuickSort(list, 0, static_cast<std::int32_t>(list.size()) - 1);
    ASSERT_EQ(list, expected);
  }
}

// Inputs that make a plain recursive partition sort recurse deeply.
class QuickSortLargeInput : public ::testing::TestWithParam<const char*> {};

TEST_P(QuickSortLargeInput, HundredThousandEntriesSortWithoutExhaustingTheStack) {
  const std::string kind = GetParam();
  constexpr int kCount = 100000;
  List list;
  for (int n = 0; n < kCount; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "F%06d", kind == "reversed" ? kCount - n : n);
    list.push_back(kind == "equal" ? std::string("Mail\\Work") : std::string(name));
  }
  // An adversarial pattern for a middle pivot: the largest entries at the middles.
  if (kind == "organ") {
    std::sort(list.begin(), list.end());
    List organ(list.size());
    std::size_t lo = 0, hi = list.size() - 1;
    for (std::size_t k = 0; k < list.size(); ++k) (k % 2 ? organ[hi--] : organ[lo++]) = list[k];
    list = organ;
  }
  List expected = list;
  std::sort(expected.begin(), expected.end(), TextLess);
  QuickSort(list, 0, kCount - 1);
  EXPECT_EQ(list, expected);
}

INSTANTIATE_TEST_SUITE_P(Shapes, QuickSortLargeInput,
                         ::testing::Values("sorted", "reversed", "equal", "organ"));

TEST(RemoveDuplicates, KeepsOneOfEachRunOfEqualNeighbours) {
  List list = {"a", "a", "a", "b", "b", "c"};
  RemoveDuplicates(list);
  EXPECT_EQ(list, (List{"a", "b", "c"}));
}

TEST(RemoveDuplicates, ABlankEndsARun) {
  List list = {"a", "a", "", "a"};
  RemoveDuplicates(list);
  EXPECT_EQ(list, (List{"a", "a"}));
}

TEST(RemoveDuplicates, OnlyNeighboursAreCompared) {
  List list = {"b", "a", "b"};
  RemoveDuplicates(list);
  EXPECT_EQ(list, (List{"b", "a", "b"}));
}

TEST(RemoveDuplicates, DropsBlanksAnywhereAndShrinksByBlanksAndRepeats) {
  List list = {"", "x", "", "y", "y", "", "z", ""};
  RemoveDuplicates(list);
  EXPECT_EQ(list, (List{"x", "y", "z"}));
}

TEST(RemoveDuplicates, OneEntryAndABlankSpareSlotLeaveTheEntry) {
  List list = {"Mail", ""};
  RemoveDuplicates(list);
  EXPECT_EQ(list, (List{"Mail"}));
}

TEST(RemoveDuplicates, AllBlankOrEmptyListsBecomeEmpty) {
  List blank = {"", ""};
  RemoveDuplicates(blank);
  EXPECT_TRUE(blank.empty());
  List none;
  RemoveDuplicates(none);
  EXPECT_TRUE(none.empty());
}

TEST(RemoveDuplicates, SortedThenDeduplicatedGivesDistinctAscendingFolders) {
  List list = {"Mail\\B", "Mail\\A", "Mail\\B", "Mail\\A", ""};
  QuickSort(list, 0, 3);
  RemoveDuplicates(list);
  EXPECT_EQ(list, (List{"Mail\\A", "Mail\\B"}));
}

}  // namespace
}  // namespace parvane::conversion
