// Message files whose names lie outside the system code page open on Windows,
// and their names come back as UTF-8 in errors.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/msg/message.h"
#include "import/engine_store_service.h"
#include "platform/win32_text.h"

namespace parvane {
namespace {

using platform::Utf8ToWide;

std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

class UnicodeFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    folder_ = platform::WideToUtf8(base) + "parvane Gr\xC3\xBC\xC3\x9F" "e \xCE\xA9 " +
              std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(folder_).c_str(), nullptr)) << folder_ << ": " << GetLastError();
  }
  void TearDown() override {
    // Everything opened has been closed again: the folder can go.
    std::error_code error;
    std::filesystem::remove_all(Utf8Path(folder_), error);
    EXPECT_FALSE(error) << error.message();
  }
  std::string folder_;
};

TEST_F(UnicodeFolder, OpensAMessageFileNamedOutsideTheCodePage) {
  const std::string source = PARVANE_SHARED_DIR "/corpus/msg/apache-poi/cyrillic_message.msg";
  const std::string copy = folder_ + "\\\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C\xD0\xBC\xD0\xBE.msg";  // письмо
  ASSERT_TRUE(CopyFileW(Utf8ToWide(source).c_str(), Utf8ToWide(copy).c_str(), TRUE))
      << GetLastError();
  SetFileAttributesW(Utf8ToWide(copy).c_str(), FILE_ATTRIBUTE_NORMAL);  // the corpus is read-only
  const msg::MessageFile message = msg::MessageFile::open(Utf8Path(copy));
  EXPECT_EQ(message.name(), copy);  // the name as given, in UTF-8
}

TEST_F(UnicodeFolder, MissingFileIsNamedInUtf8) {
  const std::string missing = folder_ + "\\\xCE\xA9-missing.msg";
  try {
    msg::MessageFile::open(Utf8Path(missing));
    FAIL() << "opened a missing file";
  } catch (const std::exception& error) {
    EXPECT_NE(std::string(error.what()).find(missing), std::string::npos) << error.what();
  }
}

TEST_F(UnicodeFolder, AnExistingStoreNamedOutsideTheCodePageIsRefusedAsExisting) {
  const std::string taken = folder_ + "\\\xCE\xA9 archive.pst";
  HANDLE file = CreateFileW(Utf8ToWide(taken).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(file);
  importer::EngineStoreService store;
  const conversion::Status created = store.createStore(taken, conversion::StoreFormat::Default, "Taken");
  ASSERT_FALSE(created) << "created a store over an existing file";
  EXPECT_EQ(created.error().cause, conversion::StoreFailure::AlreadyExists) << created.error().detail;
}

}  // namespace
}  // namespace parvane
