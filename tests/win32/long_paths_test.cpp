// Paths past MAX_PATH on Windows: a message file deep in a folder tree is
// found by the folder listing, opened and read, and a store is written and read
// back at such a path. Every path handed to the program is the user's own text,
// without the "\\?\" prefix, and comes back that way.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/source.h"
#include "engine/core/windows_path.h"
#include "engine/msg/message.h"
#include "engine/ndb/node_store.h"
#include "engine/ndb/store_reader.h"
#include "engine/core/file_system.h"
#include "platform/win32_text.h"
#include "remove_tree.h"

namespace parvane {
namespace {

using platform::Utf8ToWide;
using platform::WideToUtf8;

// Made and removed through the prefixed form, independently of the code under test.
std::wstring Prefixed(const std::string& path) { return L"\\\\?\\" + Utf8ToWide(path); }

class LongPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    root_ = WideToUtf8(base) + "parvane-long-" + std::to_string(GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(CreateDirectoryW(Prefixed(root_).c_str(), nullptr)) << GetLastError();
    // Folders of 60 characters until the message file's path passes 300.
    deep_ = root_;
    for (char level = 'a'; (deep_ + "\\message.msg").size() <= 300; ++level) {
      parents_.push_back(deep_);
      deep_ += "\\" + std::string(1, level) + " " + std::string(58, 'f');
      ASSERT_TRUE(CreateDirectoryW(Prefixed(deep_).c_str(), nullptr)) << deep_.size() << ": " << GetLastError();
    }
  }
  void TearDown() override { testing::RemoveTree(Prefixed(root_)); }

  std::string root_, deep_;
  std::vector<std::string> parents_;
};

TEST_F(LongPaths, MessageFileDeepInATreeIsListedAndRead) {
  const std::string source = PARVANE_SHARED_DIR "/corpus/msg/apache-poi/cyrillic_message.msg";
  const std::string file = deep_ + "\\message.msg";
  ASSERT_GT(file.size(), 300u);
  ASSERT_TRUE(CopyFileW(Utf8ToWide(source).c_str(), Prefixed(file).c_str(), TRUE)) << GetLastError();

  core::FileSystem& fs = core::FileSystem::native();
  EXPECT_TRUE(fs.folderExists(deep_));
  const std::string last = deep_.substr(deep_.rfind('\\') + 1);
  EXPECT_EQ(fs.listFolder(parents_.back()).folders, std::vector<std::string>{last});
  EXPECT_EQ(fs.listFolder(deep_).files, std::vector<std::string>{"message.msg"});
  EXPECT_EQ(fs.listFolder(deep_ + "\\").files, std::vector<std::string>{"message.msg"});
  // The same folder reached through "..": resolved before the prefix is put on.
  EXPECT_EQ(fs.listFolder(deep_ + "\\..\\" + last).files, std::vector<std::string>{"message.msg"});

  const std::filesystem::path path(std::u8string(file.begin(), file.end()));
  const core::FileSource copy(path);
  const core::FileSource original(std::filesystem::path(std::u8string(source.begin(), source.end())));
  ASSERT_EQ(copy.size(), original.size());
  EXPECT_EQ(copy.read(copy.size() - 700, 700), original.read(original.size() - 700, 700));
  const msg::MessageFile message = msg::MessageFile::open(path);
  EXPECT_EQ(message.name(), file);

  try {
    core::FileSource missing(std::filesystem::path(std::u8string(file.begin(), file.end() - 4)));
    ADD_FAILURE() << "opened a missing file";
  } catch (const core::IoError& error) {
    EXPECT_EQ(std::string(error.what()).rfind(file.substr(0, file.size() - 4) + ": cannot open file", 0), 0u)
        << error.what();  // the user's path, without the prefix
  }
}

TEST_F(LongPaths, StoreIsWrittenAndReadBackAtALongPath) {
  const std::string pst = deep_ + "\\archive.pst";
  ASSERT_GT(pst.size(), 300u);
  ndb::Nid nid = 0;
  {
    auto store = ndb::NodeStore::create(pst);
    nid = store->allocateNid(ndb::NidType::Internal);
    const core::Bytes content(5000, 0x5A);
    store->putNode(nid, 0, store->writeData(content));
    store->close();
  }
  EXPECT_NE(GetFileAttributesW(Prefixed(pst).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_THROW(ndb::NodeStore::create(pst), core::IoError);  // it exists now
  {
    auto reader = ndb::StoreReader::open(pst);
    ASSERT_TRUE(reader->findNode(nid).has_value());
    EXPECT_EQ(reader->readBlock(reader->findNode(nid)->bidData).size(), 5000u);
  }
  core::FileSystem::native().removeFile(pst);
  EXPECT_EQ(GetFileAttributesW(Prefixed(pst).c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace parvane
