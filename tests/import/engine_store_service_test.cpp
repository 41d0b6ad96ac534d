// The engine's store service: real store files, checked by the structural
// checker and read back by libpff; every failure comes back typed.
#include "import/engine_store_service.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "conversion/convert.h"
#include "import_fixture.h"
#include "support/faulty_file_system.h"
#include "support/msg_writer.h"
#include "support/path_lists.h"

namespace parvane::importer {
namespace {

TEST_F(ImportTest, FoldersAndMessagesReachTheFileAndReadBack) {
  const std::string file = path("run.pst");
  const std::string a = message("a.msg", "First"), b = message("b.msg", "Second");
  EngineStoreService store;
  ASSERT_TRUE(store.createStore(file, StoreFormat::Default, "Run Store"));
  const auto top = store.topFolder().value();
  const auto mail = store.addFolder(top, "Mail", FolderKind::Mail).value();
  ASSERT_TRUE(store.addFolder(mail, "Work", FolderKind::Mail));
  EXPECT_EQ(store.subfolderNames(top).value(), (std::vector<std::string>{"Deleted Items", "Mail"}));
  // by path, names in any letter case
  const auto work = store.folderAtPath("\\\\run store\\MAIL\\work");
  ASSERT_TRUE(work);
  EXPECT_EQ(store.storeFolder("RUN STORE").value(), top);
  EXPECT_EQ(store.subfolder(mail, "WORK").value(), work.value());
  store.expectImports(std::make_shared<const conversion::PathList>(parvane::testing::Listed({a, b})));
  EXPECT_TRUE(importInto(store, work.value(), a));
  EXPECT_TRUE(importInto(store, mail, b));
  ASSERT_TRUE(store.removeStore());
  store.endSession();
  EXPECT_EQ(Pstcheck(file).status, 0) << Pstcheck(file).output;
  const std::string counts = FolderCounts(file);
  EXPECT_NE(counts.find("Mail 1\n"), std::string::npos) << counts;
  EXPECT_NE(counts.find("Work 1\n"), std::string::npos) << counts;
}

TEST_F(ImportTest, FailuresComeBackWithTheirCause) {
  const std::string existing = path("old.pst");
  std::ofstream(existing) << "kept";
  EngineStoreService store;
  const auto refused = store.createStore(existing, StoreFormat::Default, "Old");
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().cause, StoreFailure::AlreadyExists);
  EXPECT_EQ(fs::file_size(existing), 4u);  // never overwritten
  EXPECT_EQ(store.createStore(path("no/such/folder/x.pst"), StoreFormat::Default, "X")
                .error()
                .cause,
            StoreFailure::NotFound);
  EXPECT_EQ(store.topFolder().error().cause, StoreFailure::NotAttached);

  ASSERT_TRUE(store.createStore(path("f.pst"), StoreFormat::Default, "F"));
  const auto top = store.topFolder().value();
  ASSERT_TRUE(store.addFolder(top, "In", FolderKind::Mail));
  EXPECT_EQ(store.addFolder(top, "IN", FolderKind::Mail).error().cause,
            StoreFailure::AlreadyExists);
  EXPECT_EQ(store.folderAtPath("\\\\F\\Missing").error().cause, StoreFailure::NotFound);
  EXPECT_EQ(store.folderAtPath("\\\\Other\\In").error().cause, StoreFailure::NotFound);

  const auto in = store.folderAtPath("\\\\F\\In").value();
  const std::string broken = path("broken.msg");
  std::ofstream(broken) << "this is not a compound file at all, just text";
  const auto missing = importInto(store, in, path("missing.msg"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().cause, StoreFailure::UnreadableMessage);
  const auto damaged = importInto(store, in, broken);
  ASSERT_FALSE(damaged);
  EXPECT_EQ(damaged.error().cause, StoreFailure::DamagedMessage);
  // the reason, without the file's name: the caller names it once
  EXPECT_EQ(damaged.error().detail.find(broken), std::string::npos) << damaged.error().detail;
  EXPECT_FALSE(damaged.error().detail.empty());
  // a good file after the failures is stored; the failed ones left nothing
  EXPECT_TRUE(importInto(store, in, message("good.msg", "Good")));
  ASSERT_TRUE(store.removeStore());
  EXPECT_EQ(store.addItem(in).error().cause, StoreFailure::NotAttached);
  EXPECT_NE(FolderCounts(path("f.pst")).find("In 1\n"), std::string::npos);
}

// A full disk fails the save with its cause; the file stays whole as of its
// last commit.
TEST_F(ImportTest, AFullDiskFailsTheSaveAndKeepsTheFileWhole) {
  fs::create_directories(dir / "small");
  if (Shell("mount -t tmpfs -o size=640k tmpfs " + Quoted((dir / "small").string())).status != 0) {
    GTEST_SKIP() << "cannot mount a small file system here";
  }
  struct Unmount {
    std::string at;
    ~Unmount() { Shell("umount " + Quoted(at)); }
  } unmount{(dir / "small").string()};
  const std::string file = (dir / "small" / "full.pst").string();
  const std::string big = path("big.msg");
  testsupport::writeMsgFile(big, testsupport::simpleMessage("Too big", "body", {},
                                                            {{"big.bin", core::Bytes(2u << 20, 3)}}));
  EngineStoreService store;
  ASSERT_TRUE(store.createStore(file, StoreFormat::Default, "Full"));
  const auto in = store.addFolder(store.topFolder().value(), "In", FolderKind::Mail).value();
  EXPECT_TRUE(importInto(store, in, message("small.msg", "Fits")));
  const auto failed = importInto(store, in, big);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().cause, StoreFailure::NoSpace) << failed.error().detail;
  (void)store.removeStore();  // the final commit may not fit either
  EXPECT_EQ(Pstcheck(file).status, 0) << Pstcheck(file).output;
}

// The window may close mid-run: what is attached is committed and closed.
TEST_F(ImportTest, ClosingNowLeavesAWholeStore) {
  const std::string file = path("closed.pst");
  {
    EngineStoreService store;
    ASSERT_TRUE(store.createStore(file, StoreFormat::Default, "Closed"));
    const auto kept = store.addFolder(store.topFolder().value(), "Kept", FolderKind::Mail).value();
    ASSERT_TRUE(importInto(store, kept, message("k.msg", "Kept")));
    store.closeNow();
    EXPECT_EQ(store.topFolder().error().cause, StoreFailure::NotAttached);
  }
  EXPECT_EQ(Pstcheck(file).status, 0) << Pstcheck(file).output;
  EXPECT_NE(FolderCounts(file).find("Kept 1\n"), std::string::npos);
}

}  // namespace
}  // namespace parvane::importer

namespace parvane::importer {
namespace {

// A disk that fills in the middle of a run: the run stops there, and every
// listed file is either in the store (as a reader finds it) or named.
TEST_F(ImportTest, AStoreThatFailsMidRunNamesEveryFileItLacks) {
  const fs::path corpus = fs::path(PARVANE_SHARED_DIR) / "corpus" / "msg" / "HiraokaHyperTools-msgreader";
  std::vector<std::string> files;
  for (int copy = 0; copy < 3; ++copy) {
    const fs::path folder = dir / "src" / ("copy" + std::to_string(copy));
    fs::create_directories(folder);
    for (const auto& entry : fs::directory_iterator(corpus)) {
      if (entry.path().extension() != ".msg") continue;
      fs::copy_file(entry.path(), folder / entry.path().filename());
      files.push_back((folder / entry.path().filename()).string());
    }
  }
  std::sort(files.begin(), files.end());
  parvane::testing::FaultyFileSystem disk;
  disk.writeBudget = 900 * 1024;
  messaging::StoreOptions options;
  options.commitEveryBytes = 64 * 1024;  // several commits before the disk is full
  options.fileSystem = &disk;
  EngineStoreService store(options);
  conversion::ConversionRequest request;
  request.files = parvane::testing::Listed(files);
  request.destinationFolder = dir.string();
  request.storeFilePath = path("filled.pst");
  request.pathRules = conversion::kPosixPathRules;
  conversion::RunObserver quiet;
  const auto result = conversion::convert(request, store, quiet);

  ASSERT_TRUE(result.storeFailure.has_value()) << "the disk never filled: make it smaller";
  EXPECT_EQ(result.storeFailure->cause, StoreFailure::NoSpace) << result.storeFailure->detail;
  const CommandResult count = Shell(
      "/usr/bin/python3 -c \"import pypff,sys\n"
      "f=pypff.file(); f.open(sys.argv[1])\n"
      "def walk(d):\n"
      "  return d.number_of_sub_messages + sum(walk(d.get_sub_folder(i)) for i in range(d.number_of_sub_folders))\n"
      "print(walk(f.get_root_folder()))\" " + Quoted(path("filled.pst")));
  ASSERT_EQ(count.status, 0) << count.output;
  const std::size_t inStore = std::stoul(count.output);
  EXPECT_GT(inStore, 0u);
  EXPECT_EQ(inStore, result.converted);
  EXPECT_EQ(inStore + result.failures.size(), files.size());
}

}  // namespace
}  // namespace parvane::importer
