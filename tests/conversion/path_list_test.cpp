// The run's compact list of paths: every path comes back exactly as it was
// appended, whatever its shape, and a folder's text is held once.
#include "conversion/path_list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace parvane::conversion {
namespace {

std::vector<std::string> all(const PathList& list) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < list.size(); ++i) out.push_back(list.path(i));
  return out;
}

TEST(PathList, GivesBackEveryShapeOfPathExactly) {
  const std::vector<std::string> paths = {
      "",                          // the empty list's one row
      "a.msg",                     // no separator
      "/a.msg",                    // in the POSIX root
      "C:\\a\\b.msg",              // Windows
      "C:\\a.msg",                 // a drive's root
      "C:",                        // a drive alone
      "/srv/mail/",                // a closing separator: no name
      "/srv/mail/x\\y.msg",        // a POSIX name holding a backslash
      "\\\\server\\share\\m.msg",  // a network share
      "C:\\mixed/sep\\z.msg",
      "  /data/blank.msg  ",       // blanks are the list's, kept as they are
      "/srv/mail/a.msg",
      "/srv/mail/a.msg",           // the same path twice stays twice
      std::string("/nul\0l/a.msg", 12),
  };
  PathList list;
  for (const auto& path : paths) list.append(path);
  ASSERT_EQ(list.size(), paths.size());
  EXPECT_EQ(all(list), paths);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_TRUE(list.is(i, paths[i])) << paths[i];
    EXPECT_EQ(std::string(list.folder(i)) + std::string(list.name(i)), paths[i]);
    EXPECT_EQ(list.hashOf(i), PathList::hashOf(paths[i])) << paths[i];
  }
  EXPECT_NE(list.hashOf(11), list.hashOf(7));
}

TEST(PathList, SplitsAfterTheLastSeparatorOfEitherKind) {
  const PathList list{"", "a.msg", "/a.msg", "C:\\a\\b.msg", "/srv/mail/", "C:\\x/y\\z.msg", "/p\\q"};
  EXPECT_EQ(list.folder(0), "");
  EXPECT_EQ(list.name(0), "");
  EXPECT_EQ(list.folder(1), "");
  EXPECT_EQ(list.name(1), "a.msg");
  EXPECT_EQ(list.folder(2), "/");
  EXPECT_EQ(list.folder(3), "C:\\a\\");
  EXPECT_EQ(list.name(3), "b.msg");
  EXPECT_EQ(list.folder(4), "/srv/mail/");
  EXPECT_EQ(list.name(4), "");
  EXPECT_EQ(list.folder(5), "C:\\x/y\\");
  EXPECT_EQ(list.folder(6), "/p\\");
  EXPECT_EQ(list.name(6), "q");
}

TEST(PathList, HoldsEachFolderOnceHoweverThePathsInterleave) {
  PathList list;
  std::vector<std::string> paths;
  for (int i = 0; i < 3000; ++i) {
    // folders met again long after they were first seen
    paths.push_back("/archive/folder-" + std::to_string(i % 250) + "/m" + std::to_string(i) + ".msg");
    list.append(paths.back());
  }
  list.append("/archive/folder-7/late.msg");
  paths.push_back("/archive/folder-7/late.msg");
  EXPECT_EQ(list.folderCount(), 250u);
  EXPECT_EQ(all(list), paths);
  EXPECT_EQ(list.folder(3000), list.folder(7));
  EXPECT_EQ(list.folder(3000).data(), list.folder(7).data());  // the same text, not a copy
}

TEST(PathList, ComparesWholePathsNotTheirParts) {
  const PathList list{"/a/bc.msg", "/srv/x.msg"};
  EXPECT_TRUE(list.is(0, "/a/bc.msg"));
  EXPECT_FALSE(list.is(0, "/a/b"));        // a prefix
  EXPECT_FALSE(list.is(0, "/a/bc.msgx"));  // longer
  EXPECT_FALSE(list.is(0, "/ab/c.msg"));   // same characters, other split
  EXPECT_FALSE(list.is(1, "/srv/y.msg"));
  EXPECT_FALSE(list.is(1, ""));
  // two lists of the same paths are equal however their folders were numbered
  PathList reordered;
  reordered.append("/zzz/first.msg");
  PathList other{"/a/bc.msg", "/srv/x.msg"};
  EXPECT_EQ(list, other);
  EXPECT_FALSE(list == reordered);
  EXPECT_FALSE(list == (PathList{"/a/bc.msg", "/srv/y.msg"}));
}

TEST(PathList, CopiesAndMovesKeepTheirOwnFolders) {
  PathList original{"/one/a.msg", "/two/b.msg"};
  PathList copy = original;
  original.append("/one/c.msg");  // grows the original after the copy
  copy.append("/two/d.msg");
  copy.append("/three/e.msg");
  EXPECT_EQ(all(original), (std::vector<std::string>{"/one/a.msg", "/two/b.msg", "/one/c.msg"}));
  EXPECT_EQ(all(copy), (std::vector<std::string>{"/one/a.msg", "/two/b.msg", "/two/d.msg", "/three/e.msg"}));
  EXPECT_EQ(copy.folderCount(), 3u);  // "/two/" was found again in the copy's own map

  PathList moved = std::move(copy);
  moved.append("/three/f.msg");  // the map's views survived the move
  EXPECT_EQ(moved.folderCount(), 3u);
  EXPECT_EQ(moved.path(4), "/three/f.msg");

  PathList assigned;
  assigned = original;
  assigned.append("/one/g.msg");
  EXPECT_EQ(assigned.folderCount(), 2u);
  EXPECT_EQ(assigned.path(3), "/one/g.msg");
}

}  // namespace
}  // namespace parvane::conversion
