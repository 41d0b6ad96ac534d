// OpenMAPIFolder against an in-memory profile: skip-on-failure lookup.
#include "conversion/folder_lookup.h"

#include <gtest/gtest.h>

#include "support/fake_automation.h"

namespace parvane::conversion {
namespace {

using parvane::testing::FakeFolderNode;
using parvane::testing::FakeProfile;
using List = std::vector<std::string>;

std::shared_ptr<FakeFolderNode> addFolder(FakeFolderNode& parent, const std::string& name) {
  auto node = std::make_shared<FakeFolderNode>();
  node->name = name;
  parent.children.push_back(node);
  return node;
}

class OpenMAPIFolderTest : public ::testing::Test {
 protected:
  OpenMAPIFolderTest() {
    auto& added = profile.addStore("Ostrel Software : Created - 6.12.26 9.5.07");
    mail = addFolder(*added.root, "Mail");
    work = addFolder(*added.root, "Work");
    addFolder(*mail, "Inbox");
  }
  std::string open(const std::string& path) {
    auto folder = OpenMAPIFolder(profile, path);
    profile.calls.clear();
    return folder ? folder->Name() : "<none>";
  }
  FakeProfile profile;
  std::shared_ptr<FakeFolderNode> mail, work;
  const std::string store = "\\Ostrel Software : Created - 6.12.26 9.5.07";
};

TEST_F(OpenMAPIFolderTest, DisplayNameAloneGivesTheStoresTopFolder) {
  EXPECT_EQ(open(store), "Ostrel Software : Created - 6.12.26 9.5.07");
}

TEST_F(OpenMAPIFolderTest, WalksNamesFromTheTopLevelDown) {
  auto folder = OpenMAPIFolder(profile, store + "\\Mail\\Inbox");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(profile.allCallTexts(),
            (List{"CreateObject(Outlook.Application)", "OutlookApplication.GetNamespace(MAPI)",
                  "OutlookNamespace.Folders",
                  "OutlookFolders.Item(Ostrel Software : Created - 6.12.26 9.5.07)",
                  "OutlookFolder.Folders", "OutlookFolders.Item(Mail)", "OutlookFolder.Folders",
                  "OutlookFolders.Item(Inbox)"}));
  EXPECT_EQ(folder->Name(), "Inbox");
}

TEST_F(OpenMAPIFolderTest, UnknownDisplayNameLooksTheNextNameUpAtTheTopLevel) {
  EXPECT_EQ(open("\\Nobody\\Mail"), "<none>");
  profile.addStore("Mail");  // a top-level folder named Mail
  EXPECT_EQ(open("\\Nobody\\Mail"), "Mail");
}

TEST_F(OpenMAPIFolderTest, MissingMiddleFolderIsSteppedOver) {
  EXPECT_EQ(open(store + "\\Missing\\Work"), "Work");
  EXPECT_EQ(open(store + "\\Missing"), "Ostrel Software : Created - 6.12.26 9.5.07");
}

TEST_F(OpenMAPIFolderTest, BackslashAloneLooksNothingUp) {
  auto folder = OpenMAPIFolder(profile, "\\");
  EXPECT_EQ(folder, nullptr);
  EXPECT_EQ(profile.allCallTexts(), (List{"CreateObject(Outlook.Application)"}));
}

TEST_F(OpenMAPIFolderTest, TrailingSeparatorAddsNoNameButADoubleOneDoes) {
  OpenMAPIFolder(profile, store + "\\Mail\\");
  EXPECT_EQ(profile.callTexts({"OutlookFolders.Item"}).size(), 2u);
  profile.calls.clear();
  auto folder = OpenMAPIFolder(profile, store + "\\\\Mail");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->Name(), "Mail");
  EXPECT_EQ(profile.callTexts({"OutlookFolders.Item"}),
            (List{"OutlookFolders.Item(Ostrel Software : Created - 6.12.26 9.5.07)",
                  "OutlookFolders.Item()", "OutlookFolders.Item(Mail)"}));
}

TEST_F(OpenMAPIFolderTest, OutlookUnavailableGivesNoFolderAndNoError) {
  profile.failOn("CreateObject", "Outlook.Application");
  EXPECT_EQ(open(store + "\\Mail"), "<none>");
  EXPECT_EQ(open("\\"), "<none>");
}

TEST_F(OpenMAPIFolderTest, FailingNamespaceIsSkippedAndTriedAgainForTheNextName) {
  profile.failOn("OutlookApplication.GetNamespace", "", 1);
  // The first name finds nothing; the second is looked up at the top level.
  profile.addStore("Mail");
  EXPECT_EQ(open(store + "\\Mail"), "Mail");
}

}  // namespace
}  // namespace parvane::conversion
