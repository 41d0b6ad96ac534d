// Expanding the folder list with every ancestor, and splitting off a leaf.
#include "conversion/folder_list.h"

#include <gtest/gtest.h>

#include "conversion/list_sort.h"

namespace parvane::conversion {
namespace {

using List = std::vector<std::string>;

TEST(ExpandFolderList, AppendsEveryPrefixOfTheEntriesPresent) {
  List list = {"Mail\\Work\\2010", "Notes"};
  ExpandFolderList(list);
  EXPECT_EQ(list, (List{"Mail\\Work\\2010", "Notes", "Mail", "Mail\\Work", "Mail\\Work\\2010",
                        "Notes"}));
}

// What an entry shares with the one before it is not appended again; a
// name that only begins like one before it (Workshop, Work) is not shared.
TEST(ExpandFolderList, LeavesOutThePrefixesTheEntryBeforeAppended) {
  List list = {"Mail\\Work\\2010", "Mail\\Work\\2011", "Mail\\Workshop", "Mail\\Workshop\\A"};
  ExpandFolderList(list);
  EXPECT_EQ(list, (List{"Mail\\Work\\2010", "Mail\\Work\\2011", "Mail\\Workshop", "Mail\\Workshop\\A",
                        "Mail", "Mail\\Work", "Mail\\Work\\2010", "Mail\\Work\\2011",
                        "Mail\\Workshop", "Mail\\Workshop\\A"}));
}

TEST(ExpandFolderList, ThenSortAndDeduplicatePutsParentsFirst) {
  // The run's second pass: the last slot (the greatest entry's full path)
  // stays outside the sort.
  List list = {"Mail\\A", "Mail\\B"};
  ExpandFolderList(list);
  QuickSort(list, 0, static_cast<std::int32_t>(list.size()) - 2);
  RemoveDuplicates(list);
  EXPECT_EQ(list, (List{"Mail", "Mail\\A", "Mail\\B"}));
}

TEST(SplitLeaf, SeparatesTheLastComponent) {
  auto split = SplitLeaf("Mail\\Work\\2010");
  EXPECT_EQ(split.parent, "Mail\\Work");
  EXPECT_EQ(split.leaf, "2010");
  split = SplitLeaf("Mail");
  EXPECT_EQ(split.parent, "");
  EXPECT_EQ(split.leaf, "Mail");
}

}  // namespace
}  // namespace parvane::conversion
