// The read-ahead serves each announced file once, in order, as reading it
// directly would; leaves a file it has not come to to the import; passes over
// files whose imports never come; stays within its depth; and hands back
// reading errors to the import they belong to.
#include "import/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/source.h"
#include "support/msg_writer.h"
#include "support/path_lists.h"

namespace parvane::importer {
namespace {

// Each "file" is a message whose subject is its path; "bad" paths fail.
struct Opener {
  std::atomic<int> opened{0};
  std::atomic<int> finished{0};
  std::atomic<std::size_t> taken{0};  // imports asked for so far (set before take())
  std::size_t depth = ImportReadAhead::kDefaultDepth;  // or the most files the budget allows
  std::vector<std::string> announced;
  std::atomic<bool> tooFarAhead{false};
  std::mutex mutex;
  std::set<std::thread::id> threads;

  ImportReadAhead::Opener function() {
    return [this](const std::string& path) {
      std::size_t index = 0;
      while (index < announced.size() && announced[index] != path) ++index;
      if (index >= taken.load() + depth) tooFarAhead = true;
      ++opened;
      {
        std::lock_guard<std::mutex> lock(mutex);
        threads.insert(std::this_thread::get_id());
      }
      if (path.rfind("bad", 0) == 0) throw std::runtime_error(path + ": not a message file");
      auto bytes = testsupport::writeMsg(testsupport::simpleMessage(path, "body of " + path));
      OpenedMessageFile file{
          msg::MessageFile::read(std::make_shared<core::MemorySource>(std::move(bytes)), path), 100, std::nullopt};
      ++finished;
      return file;
    };
  }
};

std::string subjectOf(const msg::MessageFile& file) {
  const auto subject = file.message().properties().text(0x0037);
  return subject ? std::string(subject->begin(), subject->end()) : std::string("(none)");
}

std::vector<std::string> paths(int count, const std::string& prefix = "m") {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(prefix + std::to_string(i));
  return out;
}

std::optional<msg::MessageFile> take(ImportReadAhead& readAhead, Opener& opener, const std::string& path) {
  ++opener.taken;
  auto opened = readAhead.take(path);
  if (!opened) return std::nullopt;
  return std::move(opened->file);
}

// As an import does: the file read ahead, or else read here.
msg::MessageFile takeOrRead(ImportReadAhead& readAhead, Opener& opener, const std::string& path) {
  auto file = take(readAhead, opener, path);
  return file ? std::move(*file) : std::move(*opener.function()(path).file);
}

TEST(ImportReadAhead, ServesEveryFileOnceInOrderWithinItsDepth) {
  Opener opener;
  opener.depth = 4;
  opener.announced = paths(200);
  ImportReadAhead readAhead(parvane::testing::Listed(opener.announced), opener.function(), opener.depth);
  for (const auto& path : opener.announced) {
    EXPECT_EQ(subjectOf(takeOrRead(readAhead, opener, path)), path);
  }
  EXPECT_EQ(opener.opened.load(), 200);  // each file read once, by one thread or the other
  EXPECT_FALSE(opener.tooFarAhead.load());
  EXPECT_GE(opener.threads.size(), 1u);
  EXPECT_FALSE(take(readAhead, opener, "m0").has_value());  // taken already
}

TEST(ImportReadAhead, HoldsNoMoreBytesThanItsBudget) {
  Opener opener;
  opener.depth = 3;  // 100-byte files: a 250-byte budget is full after three
  opener.announced = paths(100);
  ImportReadAhead readAhead(parvane::testing::Listed(opener.announced), opener.function(), 32, 250);
  // Left alone, the reader stops at the budget (however long it is given).
  while (opener.opened.load() < 3) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(opener.opened.load(), 3);
  for (const auto& path : opener.announced) {
    EXPECT_EQ(subjectOf(takeOrRead(readAhead, opener, path)), path);
  }
  EXPECT_FALSE(opener.tooFarAhead.load());
}

TEST(ImportReadAhead, AnImportWaitingForTheReaderReadsTheNextFileItself) {
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  std::map<std::string, std::thread::id> readers;
  const auto open = [&](const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex);
    readers[path] = std::this_thread::get_id();
    changed.notify_all();
    if (path == "m0") changed.wait(lock, [&] { return release; });  // a slow first file
    auto bytes = testsupport::writeMsg(testsupport::simpleMessage(path, "body"));
    return OpenedMessageFile{
        msg::MessageFile::read(std::make_shared<core::MemorySource>(std::move(bytes)), path), 100, std::nullopt};
  };
  ImportReadAhead readAhead(parvane::testing::Listed(paths(3)), open, 8);
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return readers.count("m0") != 0; });  // the reader is on m0
  }
  bool firstByReader = false;
  std::thread importer([&] {
    auto file = readAhead.take("m0", &firstByReader);
    EXPECT_TRUE(file.has_value());
  });
  const auto importerId = importer.get_id();
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return readers.count("m1") != 0; });
    EXPECT_EQ(readers["m1"], importerId);  // read while waiting for m0
    release = true;
    changed.notify_all();
  }
  importer.join();
  EXPECT_TRUE(firstByReader);
  bool secondByReader = true;
  auto second = readAhead.take("m1", &secondByReader);
  ASSERT_TRUE(second.has_value());
  ASSERT_TRUE(second->file.has_value());
  EXPECT_EQ(subjectOf(*second->file), "m1");
  EXPECT_FALSE(secondByReader);
}

TEST(ImportReadAhead, AnImportThatWaitsFindsItsFileReadAhead) {
  Opener opener;
  opener.announced = paths(20);
  ImportReadAhead readAhead(parvane::testing::Listed(opener.announced), opener.function(), 8);
  // Given time, the reader fills its depth; every file then comes from it.
  while (opener.finished.load() < 8) std::this_thread::yield();
  for (int i = 0; i < 8; ++i) {
    auto file = take(readAhead, opener, "m" + std::to_string(i));
    ASSERT_TRUE(file.has_value()) << i;
    EXPECT_EQ(subjectOf(*file), "m" + std::to_string(i));
  }
  EXPECT_EQ(opener.threads.count(std::this_thread::get_id()), 0u);
}

TEST(ImportReadAhead, PassesOverFilesWhoseImportsNeverComeAndLeavesOthersToTheCaller) {
  Opener opener;
  opener.announced = paths(100);
  ImportReadAhead readAhead(parvane::testing::Listed(opener.announced), opener.function(), 8);
  EXPECT_EQ(subjectOf(takeOrRead(readAhead, opener, "m3")), "m3");  // m0..m2 left out
  EXPECT_FALSE(take(readAhead, opener, "elsewhere").has_value());    // not announced
  EXPECT_FALSE(take(readAhead, opener, "m1").has_value());           // passed over
  EXPECT_EQ(subjectOf(takeOrRead(readAhead, opener, "m90")), "m90");  // far past the reader
  for (int i = 91; i < 100; ++i) {
    EXPECT_EQ(subjectOf(takeOrRead(readAhead, opener, "m" + std::to_string(i))), "m" + std::to_string(i));
  }
  EXPECT_LT(opener.opened.load(), 60);  // the skipped stretch was not read
}

TEST(ImportReadAhead, HandsAReadingErrorToItsOwnImportOnly) {
  Opener opener;
  opener.announced = {"m0", "bad1", "m2", "m2"};  // a file may be listed twice
  ImportReadAhead readAhead(parvane::testing::Listed(opener.announced), opener.function());
  while (opener.finished.load() < 3) std::this_thread::yield();  // all read ahead (bad1 never finishes)
  EXPECT_EQ(subjectOf(*take(readAhead, opener, "m0")), "m0");
  try {
    take(readAhead, opener, "bad1");
    FAIL() << "the reading error was not raised";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "bad1: not a message file");
  }
  EXPECT_EQ(subjectOf(*take(readAhead, opener, "m2")), "m2");
  EXPECT_EQ(subjectOf(*take(readAhead, opener, "m2")), "m2");
}

TEST(ImportReadAhead, EndsPromptlyWithFilesUntaken) {
  Opener opener;
  opener.announced = paths(10000);
  {
    ImportReadAhead readAhead(parvane::testing::Listed(opener.announced), opener.function(), 16);
    EXPECT_EQ(subjectOf(takeOrRead(readAhead, opener, "m0")), "m0");
  }
  EXPECT_LE(opener.opened.load(), 18);
}

}  // namespace
}  // namespace parvane::importer
