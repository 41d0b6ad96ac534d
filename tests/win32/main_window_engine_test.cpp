// The native window over our own engine and the Windows file system, clicked
// through as a user would: message files of the corpus (in a folder named
// outside the system code page) listed through Add and Add Folder, converted
// by a click, and the new store read back by the engine's own readers. Also a
// broken file among good ones.
#include "win32/main_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/core/codepage.h"
#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/ndb/store_reader.h"
#include "filelist/add_folder.h"
#include "import/engine_store_service.h"
#include "engine/core/file_system.h"
#include "platform/win32_text.h"
#include "support/fake_ui.h"
#include "win32/controls.h"
#include "win32/grid.h"

namespace parvane::win32 {
namespace {

using platform::Utf8ToWide;
using List = std::vector<std::string>;
// Folder path below the store's root folder ("\"-separated) and its message count.
using Tree = std::map<std::string, std::size_t>;

const std::string kCorpus = PARVANE_SHARED_DIR "/corpus/msg/";
const char* const kBroken =
    "apache-poi/clusterfuzz-testcase-minimized-POIHSMFFuzzer-5336473854148608.msg";

std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The folders below `folder` (search folders left out) with the messages each
// holds, as its hierarchy and contents tables list them; a listed message must
// have its node.
void Walk(const ndb::StoreReader& store, ndb::Nid folder, const std::string& path, Tree& tree) {
  const auto node = [&](ndb::Nid nid) {
    const auto found = store.findNode(nid);
    if (!found) throw std::runtime_error("no node " + std::to_string(nid) + " below " + path);
    return *found;
  };
  const auto rows = [&](ndb::Nid of, ndb::NidType type) -> std::vector<ltp::TableRow> {
    const ndb::NodeInfo info = node(ndb::makeNid(type, ndb::nidIndex(of)));
    return ltp::TableContextReader(store, info.bidData, info.bidSub).rows();
  };
  for (const ltp::TableRow& row : rows(folder, ndb::NidType::HierarchyTable)) {
    if (ndb::nidType(row.id) != ndb::NidType::NormalFolder) continue;  // the search folders
    const ndb::NodeInfo info = node(row.id);
    const ltp::PropertyContextReader properties(store, info.bidData, info.bidSub);
    const ltp::PropertyValue* name = properties.find(0x3001);
    if (name == nullptr) throw std::runtime_error("a folder without a name below " + path);
    const std::string child =
        (path.empty() ? "" : path + "\\") + core::toUtf8(core::fromUtf16le(properties.value(*name)));
    std::size_t messages = 0;
    for (const ltp::TableRow& message : rows(row.id, ndb::NidType::ContentsTable)) {
      node(message.id);
      ++messages;
    }
    tree[child] = messages;
    Walk(store, row.id, child, tree);
  }
}

Tree ReadTree(const std::string& pst) {
  Tree tree;
  const auto store = ndb::StoreReader::open(pst);
  Walk(*store, ndb::makeNid(ndb::NidType::NormalFolder, 9), "", tree);  // the root folder
  return tree;
}

// The one .pst file in `folder`, or an empty string.
std::string OnlyStoreIn(const std::string& folder) {
  List found;
  for (const auto& entry : std::filesystem::directory_iterator(Utf8Path(folder))) {
    if (entry.path().extension() == ".pst") {
      found.push_back(platform::WideToUtf8(entry.path().wstring()));
    }
  }
  return found.size() == 1 ? found[0] : std::string();
}

class WindowEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    scratch = platform::WideToUtf8(base) + "P\xC3\xB6st \xE2\x9C\x93 " +
              std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_EQ(scratch[1], ':') << scratch;
    for (const char* folder : {"", "\\picked", "\\tree", "\\tree\\Mail", "\\tree\\Mail\\Work",
                               "\\tree\\Notes", "\\out"}) {
      ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(scratch + folder).c_str(), nullptr))
          << scratch << folder << ": " << GetLastError();
    }
    put("HiraokaHyperTools-msgreader/test1.msg", "picked\\Gr\xC3\xBC\xC3\x9F" "e.msg");  // Grüße
    put("HiraokaHyperTools-msgreader/sent.msg", "picked\\sent.msg");
    put("HiraokaHyperTools-msgreader/Subject.msg", "tree\\Mail\\Subject.msg");
    put("HiraokaHyperTools-msgreader/attachAndInline.msg", "tree\\Mail\\Work\\a.msg");
    put("HiraokaHyperTools-msgreader/Hello_CJK.msg", "tree\\Mail\\Work\\b.MSG");
    put("HiraokaHyperTools-msgreader/test1.msg", "tree\\Notes\\test1.msg");
    put("HiraokaHyperTools-msgreader/sent.msg", "tree\\Notes\\sent.msg");

    window = std::make_unique<MainWindow>(GetModuleHandleW(nullptr), store, files, [] {});
    window->setMessageBox(&messages);
    window->setOpenFileDialog(&opener);
    window->setFolderDialog(&chooser);
  }
  void TearDown() override {
    window.reset();
    std::error_code error;
    std::filesystem::remove_all(Utf8Path(scratch), error);
    EXPECT_FALSE(error) << "every file is closed again: " << error.message();
  }

  // Copies a corpus file to `to` below the scratch folder, writable.
  void put(const std::string& from, const std::string& to) {
    const std::wstring target = Utf8ToWide(scratch + "\\" + to);
    ASSERT_TRUE(CopyFileW(Utf8ToWide(kCorpus + from).c_str(), target.c_str(), TRUE)) << to;
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  void click(ControlId id) { SendMessageW(window->control(id), BM_CLICK, 0, 0); }
  bool enabled(ControlId id) const { return IsWindowEnabled(window->control(id)) != FALSE; }
  std::string text(ControlId id) const {
    wchar_t buffer[256] = {};
    GetWindowTextW(window->control(id), buffer, 256);
    return platform::WideToUtf8(buffer);
  }
  List rows() const {
    List listed;
    for (std::int32_t row = 0; row < window->grid().rows(); ++row) {
      listed.push_back(window->grid().cell(row, 0));
    }
    return listed;
  }
  // Lists the tree through the folder add: one box, the count added.
  void listTree(std::int32_t messageFiles) {
    chooser.results.push_back(scratch + "\\tree");
    click(kIdAddFolder);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, filelist::FilesAddedMessage(messageFiles));
    messages.shown.clear();
  }
  // Converts into "out": the click returns once the run, which yields to the
  // message loop, has ended.
  void convert() {
    chooser.results.push_back(scratch + "\\out");
    click(kIdConvert);
    // The native chooser would be modal over the window.
    EXPECT_EQ(chooser.owners.back(), reinterpret_cast<std::intptr_t>(window->handle()));
  }
  // The store's tree at and below the scratch folder (keyed below it), found
  // drive-relative as the run files it: below the top folder, "users\...\Pöst ✓ ..."
  // and no "C:".
  Tree storedScratch(const std::string& pst) const {
    const std::string top = "Top of Outlook data file\\" + scratch.substr(3);
    Tree below;
    for (const auto& [path, count] : ReadTree(pst)) {
      if (path.rfind(top, 0) == 0) below[path.substr(top.size())] = count;
    }
    return below;
  }

  std::string scratch;
  importer::EngineStoreService store;
  core::FileSystem& files = core::FileSystem::native();
  testing::ScriptedMessageBox messages;
  testing::FakeOpenFileDialog opener;
  testing::FakeFolderDialog chooser;
  std::unique_ptr<MainWindow> window;
};

TEST_F(WindowEngine, ListsAndConvertsIntoAStoreThatMirrorsTheFolders) {
  // Two files chosen together: the folder, then each name.
  opener.result = scratch + "\\picked" + '\0' + "Gr\xC3\xBC\xC3\x9F" "e.msg" + '\0' + "sent.msg";
  click(kIdAddFiles);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(text(kIdFileCount), "2 files");
  EXPECT_TRUE(enabled(kIdConvert));

  listTree(5);
  const std::string tree = scratch + "\\tree\\";
  EXPECT_EQ(rows(), (List{scratch + "\\picked\\Gr\xC3\xBC\xC3\x9F" "e.msg", scratch + "\\picked\\sent.msg",
                          tree + "Mail\\Subject.msg", tree + "Notes\\sent.msg", tree + "Notes\\test1.msg",
                          tree + "Mail\\Work\\a.msg", tree + "Mail\\Work\\b.MSG"}));
  EXPECT_EQ(text(kIdFileCount), "7 files");

  convert();
  EXPECT_TRUE(messages.shown.empty()) << messages.shown[0].text;
  ASSERT_TRUE(window->controller().lastRun());
  const auto& run = *window->controller().lastRun();
  ASSERT_EQ(run.stage, conversion::RunResult::Stage::Completed);
  EXPECT_EQ(run.converted, 7u);
  const std::string pst = OnlyStoreIn(scratch + "\\out");
  ASSERT_FALSE(pst.empty());
  EXPECT_EQ(pst, run.storeFilePath);
  EXPECT_EQ(pst.rfind(scratch + "\\out\\OstrelMSGMessages", 0), 0u) << pst;
  EXPECT_EQ(text(kIdProgressFrame), "Details : Converting - (7 of 7) file(s)");
  // The list buttons are back; a second run of the same list is not offered.
  EXPECT_TRUE(enabled(kIdAddFiles));
  EXPECT_TRUE(enabled(kIdAddFolder));
  EXPECT_TRUE(enabled(kIdClearList));
  EXPECT_TRUE(enabled(kIdExit));
  EXPECT_FALSE(enabled(kIdConvert));
  EXPECT_FALSE(window->desktop().busy());

  // The folders on the way to the files, named as on disk, each holding its own files.
  EXPECT_EQ(storedScratch(pst), (Tree{{"", 0}, {"\\picked", 2}, {"\\tree", 0}, {"\\tree\\Mail", 1},
                                      {"\\tree\\Mail\\Work", 2}, {"\\tree\\Notes", 2}}));
}

TEST_F(WindowEngine, ABrokenFileShowsOneFailureBoxAndLeavesNoMessage) {
  put(kBroken, "tree\\Mail\\broken.msg");
  listTree(6);
  convert();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].title, "Parvane");
  EXPECT_EQ(messages.shown[0].icon, platform::MessageIcon::Exclamation);
  EXPECT_NE(messages.shown[0].text.find(scratch + "\\tree\\Mail\\broken.msg"), std::string::npos)
      << messages.shown[0].text;
  ASSERT_TRUE(window->controller().lastRun());
  const auto& run = *window->controller().lastRun();
  EXPECT_EQ(run.converted, 5u);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_TRUE(enabled(kIdAddFiles));

  const std::string pst = OnlyStoreIn(scratch + "\\out");
  ASSERT_FALSE(pst.empty());
  EXPECT_EQ(storedScratch(pst), (Tree{{"", 0}, {"\\tree", 0}, {"\\tree\\Mail", 1}, {"\\tree\\Mail\\Work", 2},
                                      {"\\tree\\Notes", 2}}));
}

}  // namespace
}  // namespace parvane::win32
