#include "engine/messaging/folder_names.h"

#include <gtest/gtest.h>

namespace parvane::messaging {
namespace {

TEST(FolderNames, CompareWithoutLetterCase) {
  EXPECT_TRUE(sameFolderName(u"Mail", u"mAIL"));
  EXPECT_TRUE(sameFolderName(u"Ärger Über", u"äRGER üBER"));
  EXPECT_TRUE(sameFolderName(u"Почта", u"ПОЧТА"));
  EXPECT_TRUE(sameFolderName(u"Łódź", u"łÓDŹ"));
  EXPECT_TRUE(sameFolderName(u"αβγ", u"ΑΒΓ"));
  EXPECT_FALSE(sameFolderName(u"Mail", u"Mail2"));
  EXPECT_FALSE(sameFolderName(u"Mail", u"Maíl"));
  EXPECT_FALSE(sameFolderName(u"a÷", u"a×"));  // not a letter pair
  EXPECT_FALSE(sameFolderName(u"ı", u"I"));     // a letter of its own, as MAPI compares
}

}  // namespace
}  // namespace parvane::messaging
