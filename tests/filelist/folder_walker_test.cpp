// The breadth-first folder walker and its keyed collections.
#include "filelist/folder_walker.h"

#include <gtest/gtest.h>

#include "engine/core/io_error.h"
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

TEST(FolderWalker, SampleTreeBreadthFirstWithKeys) {
  auto fs = SampleTree();
  FolderWalker walker(fs, '\\');
  walker.prepare();
  walker.fullPathsOnly(false);
  walker.walk("R");

  auto paths = walker.visitedFolders();
  EXPECT_EQ(paths->Values(), (std::vector<std::string>{"R\\", "R\\A\\", "R\\B\\", "R\\B\\C\\"}));
  EXPECT_EQ(paths->Item("K0"), "R\\");
  EXPECT_EQ(paths->Item("K2"), "R\\A\\");
  EXPECT_EQ(paths->Item("K3"), "R\\B\\");
  EXPECT_EQ(paths->Item("K4"), "R\\B\\C\\");
  EXPECT_FALSE(paths->Contains("K1"));

  auto full = walker.filePaths();
  EXPECT_EQ(full->Values(),
            (std::vector<std::string>{"R\\r1", "R\\r2", "R\\A\\a1", "R\\B\\C\\c1"}));
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(full->Item("K" + std::to_string(n)), full->Item(n));
  EXPECT_EQ(walker.fileNames()->Values(), (std::vector<std::string>{"r1", "r2", "a1", "c1"}));
  EXPECT_EQ(walker.folderPositions()->Values(), (std::vector<std::int32_t>{1, 1, 2, 4}));
  EXPECT_EQ(walker.folderPositions()->Item("K4"), 4);
  EXPECT_EQ(walker.nextFileNumber(), 5);

  // full name n = visitedFolders(folderPositions(n)) & fileNames(n)
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(full->Item(n),
              paths->Item(walker.folderPositions()->Item(n)) + walker.fileNames()->Item(n));
  }
}

TEST(FolderWalker, FullFileNamesOnlyFillsNothingElse) {
  auto fs = SampleTree();
  FolderWalker walker(fs, '\\');
  walker.prepare();
  EXPECT_TRUE(walker.fullPathsOnly());
  walker.walk("R\\");
  EXPECT_EQ(walker.filePaths()->Count(), 4);
  EXPECT_EQ(walker.fileNames()->Count(), 0);
  EXPECT_EQ(walker.folderPositions()->Count(), 0);
  EXPECT_EQ(walker.visitedFolders()->Item(1), "R\\");  // given with its closing separator
}

TEST(FolderWalker, ASinkGetsTheFilesInWalkingOrderAndTheCollectionsNone) {
  auto fs = SampleTree();
  FolderWalker walker(fs, '\\');
  walker.prepare();
  std::vector<std::string> sent;
  walker.sendFilesTo([&](const std::string& folder, const std::string& name) { sent.push_back(folder + "|" + name); });
  walker.walk("R");
  EXPECT_EQ(sent, (std::vector<std::string>{"R\\|r1", "R\\|r2", "R\\A\\|a1", "R\\B\\C\\|c1"}));
  EXPECT_EQ(walker.filePaths()->Count(), 0);
  EXPECT_EQ(walker.nextFileNumber(), 5);
  EXPECT_EQ(walker.visitedFolders()->Count(), 4);  // folders are still logged

  // a walk after prepare() logs its files again
  walker.prepare();
  walker.walk("R");
  EXPECT_EQ(sent.size(), 4u);
  EXPECT_EQ(walker.filePaths()->Count(), 4);
}

TEST(FolderWalker, EmptyFolderCountsOne) {
  MemoryFileSystem fs('/');
  fs.addFolder("/e");
  FolderWalker walker(fs, '/');
  walker.prepare();
  walker.walk("/e");
  EXPECT_EQ(walker.visitedFolders()->Values(), std::vector<std::string>{"/e/"});
  EXPECT_EQ(walker.filePaths()->Count(), 0);
  EXPECT_EQ(walker.nextFileNumber(), 1);
}

TEST(FolderWalker, MissingFolderChangesNothing) {
  MemoryFileSystem fs;
  FolderWalker walker(fs, '\\');
  walker.prepare();
  walker.walk("C:\\nowhere");
  EXPECT_EQ(walker.nextFileNumber(), 0);
  EXPECT_EQ(walker.visitedFolders()->Count(), 0);
  EXPECT_EQ(walker.filePaths()->Count(), 0);
}

TEST(FolderWalker, SecondWalkWithoutInitFailsOnK0) {
  auto fs = SampleTree();
  FolderWalker walker(fs, '\\');
  walker.prepare();
  walker.walk("R");
  try {
    walker.walk("R");
    FAIL();
  } catch (const platform::PlatformError& e) {
    EXPECT_EQ(e.code(), 457);
  }
  EXPECT_EQ(walker.filePaths()->Count(), 4);
  // prepare keeps the counter but drops the collections, so a walk works again.
  walker.prepare();
  EXPECT_EQ(walker.nextFileNumber(), 1);
  EXPECT_EQ(walker.filePaths()->Count(), 0);
  walker.walk("R\\A");
  EXPECT_EQ(walker.filePaths()->Values(), std::vector<std::string>{"R\\A\\a1"});
  EXPECT_EQ(walker.nextFileNumber(), 2);
}

TEST(FolderWalker, WalkWithoutInitRaises) {
  auto fs = SampleTree();
  FolderWalker walker(fs, '\\');
  EXPECT_THROW(walker.walk("R"), platform::PlatformError);
  EXPECT_EQ(walker.nextFileNumber(), 0);
  EXPECT_FALSE(walker.fullPathsOnly());
}

TEST(FolderWalker, CollectionsOutliveRelease) {
  auto fs = SampleTree();
  FolderWalker walker(fs, '\\');
  walker.prepare();
  walker.walk("R");
  auto held = walker.filePaths();
  walker.release();
  EXPECT_EQ(held->Count(), 4);
  EXPECT_EQ(walker.filePaths()->Count(), 0);  // a fresh one on next use
  EXPECT_EQ(walker.nextFileNumber(), 5);
  EXPECT_TRUE(walker.fullPathsOnly());
  EXPECT_THROW(walker.walk("R"), platform::PlatformError);  // service released
}

TEST(FolderWalker, UnreadableFolderStopsTheWalkByDefault) {
  auto fs = SampleTree();
  fs.makeUnreadable("R\\A");
  FolderWalker walker(fs, '\\');
  walker.prepare();
  try {
    walker.walk("R");
    FAIL();
  } catch (const core::IoError& e) {
    EXPECT_EQ(e.cause(), core::IoError::Cause::AccessDenied);
  }
  // What was logged before stays.
  EXPECT_EQ(walker.filePaths()->Values(), (std::vector<std::string>{"R\\r1", "R\\r2"}));
  EXPECT_EQ(walker.nextFileNumber(), 3);
}

TEST(FolderWalker, UnreadableFolderSkippedWhenAsked) {
  auto fs = SampleTree();
  fs.makeUnreadable("R\\A");
  FolderWalker walker(fs, '\\');
  walker.prepare();
  walker.skipUnreadableFolders(true);
  walker.walk("R");
  EXPECT_EQ(walker.filePaths()->Values(),
            (std::vector<std::string>{"R\\r1", "R\\r2", "R\\B\\C\\c1"}));
  EXPECT_EQ(walker.filePaths()->Item("K3"), "R\\B\\C\\c1");
  EXPECT_EQ(walker.unreadableFolders()->Values(), std::vector<std::string>{"R\\A\\"});
  EXPECT_EQ(walker.nextFileNumber(), 4);
}

TEST(FolderWalker, DeepTreeNeedsNoRecursion) {
  MemoryFileSystem fs('/');
  std::string path = "/d";
  fs.addFolder(path);
  for (int i = 0; i < 5000; ++i) {
    fs.addSubFolder(path, "s");
    path += "/s";
  }
  fs.addFile(path, "deep.msg");
  FolderWalker walker(fs, '/');
  walker.prepare();
  walker.walk("/d");
  EXPECT_EQ(walker.visitedFolders()->Count(), 5001);
  EXPECT_EQ(walker.visitedFolders()->Item("K5001"), path + "/");
  EXPECT_EQ(walker.filePaths()->Item(1), path + "/deep.msg");
}

}  // namespace
}  // namespace parvane::filelist
