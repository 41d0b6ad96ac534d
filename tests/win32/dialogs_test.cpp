#include "win32/dialogs.h"

#include <gtest/gtest.h>

namespace parvane::win32 {
namespace {

TEST(DialogFilter, PipesBecomeNulsWithADoubleNulEnd) {
  EXPECT_EQ(DialogFilter("Email Messages (*.msg)|*.msg"),
            std::wstring(L"Email Messages (*.msg)\0*.msg\0\0", 30));
}

std::string Result(const std::wstring& buffer) {
  return OpenResultFromBuffer(buffer.data(), buffer.size());
}

TEST(OpenResult, OneFileIsItsFullPath) {
  EXPECT_EQ(Result(std::wstring(L"C:\\Mail\\a.msg\0\0\0", 16)), "C:\\Mail\\a.msg");
}

TEST(OpenResult, SeveralFilesAreTheFolderAndTheNames) {
  EXPECT_EQ(Result(std::wstring(L"C:\\Mail\0a.msg\0b.msg\0\0junk", 26)),
            std::string("C:\\Mail\0a.msg\0b.msg", 19));
  EXPECT_EQ(Result(std::wstring(L"C:\\\0a.msg\0\u00FC.msg\0\0", 17)),
            std::string("C:\\\0a.msg\0\xC3\xBC.msg", 16));
}

TEST(OpenResult, EmptyOrUnterminatedBuffers) {
  EXPECT_EQ(Result(std::wstring(4, L'\0')), "");
  EXPECT_EQ(Result(L"C:\\a.msg"), "C:\\a.msg");  // no NUL at all: up to the end
}

TEST(NamesThatFit, CountsWholeNamesWithinTheBuffer) {
  // "C:\Mail" + NUL, then each name + NUL, then the final NUL.
  const std::wstring folder = L"C:\\Mail";  // 7 characters
  EXPECT_EQ(NamesThatFit(folder, L"\"aaaa.msg\" \"bbbb.msg\" \"cccc.msg\"", 1000), 3);
  EXPECT_EQ(NamesThatFit(folder, L"\"aaaa.msg\" \"bbbb.msg\" \"cccc.msg\"", 9 + 9 + 9), 2);
  EXPECT_EQ(NamesThatFit(folder, L"\"aaaa.msg\" \"bbbb.msg\"", 9 + 9 + 8), 1);
  EXPECT_EQ(NamesThatFit(folder, L"single.msg", 1000), 1);
  EXPECT_EQ(NamesThatFit(folder, L"", 1000), 0);
  EXPECT_EQ(NamesThatFit(folder, L"\"unclosed", 1000), 0);
}

}  // namespace
}  // namespace parvane::win32
