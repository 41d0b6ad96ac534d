// The breadth-first folder walker and its keyed collections.
#include "filelist/path_logger.h"

#include <gtest/gtest.h>

#include "support/fake_ui.h"

namespace parvane::filelist {
namespace {

using testing::MemoryFileSystem;

// R holds files r1 and r2 and subfolders A (file a1) and B (only subfolder C,
// which holds file c1).
MemoryFileSystem SampleTree() {
  MemoryFileSystem fs('\\');
  fs.addFolder("R");
  fs.addSubFolder("R", "A");
  fs.addSubFolder("R", "B");
  fs.addSubFolder("R\\B", "C");
  fs.addFile("R", "r1");
  fs.addFile("R", "r2");
  fs.addFile("R\\A", "a1");
  fs.addFile("R\\B\\C", "c1");
  return fs;
}

TEST(KeyedCollection, PositionAndKeyAddressing) {
  KeyedCollection<std::string> c;
  c.Add("x", "K0");
  c.Add("y", "K2");
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(c.Item(1), "x");
  EXPECT_EQ(c.Item(2), "y");
  EXPECT_EQ(c.Item("K2"), "y");
  EXPECT_THROW(c.Item(0), platform::PlatformError);
  EXPECT_THROW(c.Item(3), platform::PlatformError);
  EXPECT_THROW(c.Item("K1"), platform::PlatformError);
  try {
    c.Add("z", "K0");
    FAIL();
  } catch (const platform::PlatformError& e) {
    EXPECT_EQ(e.code(), 457);
  }
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(c.TakeValues(), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(c.Count(), 0);
  c.Add("w", "K0");  // the keys are free again
  EXPECT_EQ(c.Item("K0"), "w");
}

TEST(PathLogger, SampleTreeBreadthFirstWithKeys) {
  auto fs = SampleTree();
  PathLogger walker(fs, '\\');
  walker.PathLogInit();
  walker.fullFileNamesOnly(false);
  walker.LogPath("R");

  auto paths = walker.pathNames();
  EXPECT_EQ(paths->Values(),
            (std::vector<std::string>{"R\\", "R\\A\\", "R\\B\\", "R\\B\\C\\"}));
  EXPECT_EQ(paths->Item("K0"), "R\\");
  EXPECT_EQ(paths->Item("K2"), "R\\A\\");
  EXPECT_EQ(paths->Item("K3"), "R\\B\\");
  EXPECT_EQ(paths->Item("K4"), "R\\B\\C\\");
  EXPECT_FALSE(paths->Contains("K1"));

  auto full = walker.fullFileNames();
  EXPECT_EQ(full->Values(),
            (std::vector<std::string>{"R\\r1", "R\\r2", "R\\A\\a1", "R\\B\\C\\c1"}));
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(full->Item("K" + std::to_string(n)), full->Item(n));
  EXPECT_EQ(walker.fileNames()->Values(), (std::vector<std::string>{"r1", "r2", "a1", "c1"}));
  EXPECT_EQ(walker.pathPointers()->Values(), (std::vector<std::int32_t>{1, 1, 2, 4}));
  EXPECT_EQ(walker.pathPointers()->Item("K4"), 4);
  EXPECT_EQ(walker.Count(), 5);

  // full name n = pathNames(pathPointers(n)) & fileNames(n)
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(full->Item(n),
              paths->Item(walker.pathPointers()->Item(n)) + walker.fileNames()->Item(n));
  }
}

TEST(PathLogger, FullFileNamesOnlyFillsNothingElse) {
  auto fs = SampleTree();
  PathLogger walker(fs, '\\');
  walker.PathLogInit();
  EXPECT_TRUE(walker.fullFileNamesOnly());
  walker.LogPath("R\\");
  EXPECT_EQ(walker.fullFileNames()->Count(), 4);
  EXPECT_EQ(walker.fileNames()->Count(), 0);
  EXPECT_EQ(walker.pathPointers()->Count(), 0);
  EXPECT_EQ(walker.pathNames()->Item(1), "R\\");  // given with its closing separator
}

TEST(PathLogger, EmptyFolderCountsOne) {
  MemoryFileSystem fs('/');
  fs.addFolder("/e");
  PathLogger walker(fs, '/');
  walker.PathLogInit();
  walker.LogPath("/e");
  EXPECT_EQ(walker.pathNames()->Values(), std::vector<std::string>{"/e/"});
  EXPECT_EQ(walker.fullFileNames()->Count(), 0);
  EXPECT_EQ(walker.Count(), 1);
}

TEST(PathLogger, MissingFolderChangesNothing) {
  MemoryFileSystem fs;
  PathLogger walker(fs, '\\');
  walker.PathLogInit();
  walker.LogPath("C:\\nowhere");
  EXPECT_EQ(walker.Count(), 0);
  EXPECT_EQ(walker.pathNames()->Count(), 0);
  EXPECT_EQ(walker.fullFileNames()->Count(), 0);
}

TEST(PathLogger, SecondWalkWithoutInitFailsOnK0) {
  auto fs = SampleTree();
  PathLogger walker(fs, '\\');
  walker.PathLogInit();
  walker.LogPath("R");
  try {
    walker.LogPath("R");
    FAIL();
  } catch (const platform::PlatformError& e) {
    EXPECT_EQ(e.code(), 457);
  }
  EXPECT_EQ(walker.fullFileNames()->Count(), 4);
  // PathLogInit keeps the counter but drops the collections, so a walk works again.
  walker.PathLogInit();
  EXPECT_EQ(walker.Count(), 1);
  EXPECT_EQ(walker.fullFileNames()->Count(), 0);
  walker.LogPath("R\\A");
  EXPECT_EQ(walker.fullFileNames()->Values(), std::vector<std::string>{"R\\A\\a1"});
  EXPECT_EQ(walker.Count(), 2);
}

TEST(PathLogger, WalkWithoutInitRaises) {
  auto fs = SampleTree();
  PathLogger walker(fs, '\\');
  EXPECT_THROW(walker.LogPath("R"), platform::PlatformError);
  EXPECT_EQ(walker.Count(), 0);
  EXPECT_FALSE(walker.fullFileNamesOnly());
}

TEST(PathLogger, CollectionsOutliveTerminate) {
  auto fs = SampleTree();
  PathLogger walker(fs, '\\');
  walker.PathLogInit();
  walker.LogPath("R");
  auto held = walker.fullFileNames();
  walker.Terminate();
  EXPECT_EQ(held->Count(), 4);
  EXPECT_EQ(walker.fullFileNames()->Count(), 0);  // a fresh one on next use
  EXPECT_EQ(walker.Count(), 5);
  EXPECT_TRUE(walker.fullFileNamesOnly());
  EXPECT_THROW(walker.LogPath("R"), platform::PlatformError);  // service released
}

TEST(PathLogger, UnreadableFolderStopsTheWalkByDefault) {
  auto fs = SampleTree();
  fs.makeUnreadable("R\\A");
  PathLogger walker(fs, '\\');
  walker.PathLogInit();
  try {
    walker.LogPath("R");
    FAIL();
  } catch (const platform::PlatformError& e) {
    EXPECT_EQ(e.code(), 70);
  }
  // What was logged before stays.
  EXPECT_EQ(walker.fullFileNames()->Values(), (std::vector<std::string>{"R\\r1", "R\\r2"}));
  EXPECT_EQ(walker.Count(), 3);
}

TEST(PathLogger, UnreadableFolderSkippedWhenAsked) {
  auto fs = SampleTree();
  fs.makeUnreadable("R\\A");
  PathLogger walker(fs, '\\');
  walker.PathLogInit();
  walker.skipUnreadableFolders(true);
  walker.LogPath("R");
  EXPECT_EQ(walker.fullFileNames()->Values(),
            (std::vector<std::string>{"R\\r1", "R\\r2", "R\\B\\C\\c1"}));
  EXPECT_EQ(walker.fullFileNames()->Item("K3"), "R\\B\\C\\c1");
  EXPECT_EQ(walker.unreadableFolders()->Values(), std::vector<std::string>{"R\\A\\"});
  EXPECT_EQ(walker.Count(), 4);
}

TEST(PathLogger, DeepTreeNeedsNoRecursion) {
  MemoryFileSystem fs('/');
  std::string path = "/d";
  fs.addFolder(path);
  for (int i = 0; i < 5000; ++i) {
    fs.addSubFolder(path, "s");
    path += "/s";
  }
  fs.addFile(path, "deep.msg");
  PathLogger walker(fs, '/');
  walker.PathLogInit();
  walker.LogPath("/d");
  EXPECT_EQ(walker.pathNames()->Count(), 5001);
  EXPECT_EQ(walker.pathNames()->Item("K5001"), path + "/");
  EXPECT_EQ(walker.fullFileNames()->Item(1), path + "/deep.msg");
}

}  // namespace
}  // namespace parvane::filelist
