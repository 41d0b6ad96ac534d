// The Qt window over our own engine, offscreen, with scripted dialogs: message
// files of the corpus listed through the folder add, converted by a click, and
// the resulting .pst checked by the structural checker and read back by two
// independent readers (libpff through python, readpst). Also: a broken file
// among good ones, and the window closed in the middle of a run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtCore/QTimer>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QPushButton>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/engine_binding.h"
#include "app/main_window.h"
#include "filelist/file_list.h"
#include "qt_test_app.h"
#include "support/fake_ui.h"

namespace parvane::app {
namespace {

namespace fs = std::filesystem;
using parvane::testing::FakeFolderDialog;
using parvane::testing::ScriptedMessageBox;
using parvane::testing::TestApp;
using List = std::vector<std::string>;

const fs::path kCorpus = fs::path(PARVANE_SHARED_DIR) / "corpus" / "msg";
const char* const kBroken =
    "apache-poi/clusterfuzz-testcase-minimized-POIHSMFFuzzer-5336473854148608.msg";

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

std::string ReadText(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// A scratch folder; with `shareWith` set, the same one for every process that
// sees that environment variable (a death test's child re-runs the test body).
fs::path ScratchFolder(const char* shareWith = nullptr) {
  if (shareWith != nullptr) {
    if (const char* existing = std::getenv(shareWith)) return existing;
  }
  std::string pattern = (fs::temp_directory_path() / "parvane-window-engine-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  if (shareWith != nullptr) setenv(shareWith, pattern.c_str(), 1);
  return pattern;
}

// The one .pst file in `folder`, or an empty path.
fs::path OnlyStoreIn(const fs::path& folder) {
  fs::path found;
  int count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".pst") {
      found = entry.path();
      ++count;
    }
  }
  return count == 1 ? found : fs::path();
}

// Exit status 0 and "0 errors" from the structural checker.
::testing::AssertionResult CheckerPasses(const fs::path& pst, const fs::path& scratch) {
  const fs::path report = scratch / "pstcheck.txt";
  const int status = Shell(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + Quoted(pst) +
                           " > " + Quoted(report) + " 2>&1");
  const std::string text = ReadText(report);
  if (status != 0 || text.find(" 0 errors") == std::string::npos) {
    return ::testing::AssertionFailure() << "pstcheck " << status << ":\n" << text;
  }
  return ::testing::AssertionSuccess();
}

// The store's folders below its top folder as libpff sees them: "path count"
// lines, each followed by the subjects of its messages ("  subject").
std::string ReadBack(const fs::path& pst, const fs::path& scratch) {
  std::ofstream(scratch / "walk.py") << "import pypff,sys\n"
                                        "f=pypff.file(); f.open(sys.argv[1])\n"
                                        "def walk(folder, path):\n"
                                        "  for i in range(folder.number_of_sub_folders):\n"
                                        "    s=folder.get_sub_folder(i); p=path+'/'+s.name\n"
                                        "    print(p, s.number_of_sub_messages)\n"
                                        "    for j in range(s.number_of_sub_messages):\n"
                                        "      print('  '+(s.get_sub_message(j).subject or ''))\n"
                                        "    walk(s, p)\n"
                                        "walk(f.get_root_folder(), '')\n";
  const fs::path listing = scratch / "walk.txt";
  if (Shell("/usr/bin/python3 " + Quoted(scratch / "walk.py") + " " + Quoted(pst) + " > " +
            Quoted(listing) + " 2>&1") != 0) {
    return "<pypff failed>\n" + ReadText(listing);
  }
  return ReadText(listing);
}

// The subjects of message files as olefile reads them from the files themselves.
List SubjectsOf(const std::vector<fs::path>& files, const fs::path& scratch) {
  std::ofstream(scratch / "subjects.py")
      << "import olefile,sys\n"
         "for p in sys.argv[1:]:\n"
         "  o=olefile.OleFileIO(p)\n"
         "  print(o.openstream('__substg1.0_0037001F').read().decode('utf-16-le').rstrip('\\0'))\n";
  std::string command = "/usr/bin/python3 " + Quoted(scratch / "subjects.py");
  for (const auto& file : files) command += " " + Quoted(file);
  if (Shell(command + " > " + Quoted(scratch / "subjects.txt") + " 2>&1") != 0) return {"<olefile failed>"};
  List subjects;
  std::istringstream lines(ReadText(scratch / "subjects.txt"));
  for (std::string line; std::getline(lines, line);) subjects.push_back(line);
  return subjects;
}

// How many messages readpst writes out (one file each, named by number). It
// runs as one job: its parallel jobs now and then skip items of a folder.
int ReadpstMessageCount(const fs::path& pst, const fs::path& scratch) {
  const fs::path out = scratch / "readpst";
  fs::create_directories(out);
  if (Shell("readpst -j 0 -q -S -o " + Quoted(out) + " " + Quoted(pst) + " > /dev/null 2>&1") != 0) {
    return -1;
  }
  int messages = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.find_first_not_of("0123456789") == std::string::npos) {
      ++messages;
    }
  }
  return messages;
}

class WindowEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    scratch = ScratchFolder();
    ASSERT_FALSE(scratch.empty());
    source = scratch / "src";
    out = scratch / "out";
    fs::create_directories(source / "Mail" / "Work");
    fs::create_directories(source / "Notes");
    fs::create_directories(out);
    put("HiraokaHyperTools-msgreader/Subject.msg", source / "Mail" / "Subject.msg");
    put("HiraokaHyperTools-msgreader/attachAndInline.msg", source / "Mail" / "Work" / "a.msg");
    put("HiraokaHyperTools-msgreader/Hello_CJK.msg", source / "Mail" / "Work" / "b.MSG");
    put("HiraokaHyperTools-msgreader/test1.msg", source / "Notes" / "test1.msg");
    put("HiraokaHyperTools-msgreader/sent.msg", source / "Notes" / "sent.msg");
    std::ofstream(source / "Notes" / "readme.txt") << "not a message";

    window = std::make_unique<MainWindow>();
    BindEngine(*window, store);
    window->setMessageBox(&messages);
    window->setFolderDialog(&chooser);
    window->setExitHandler([] {});
  }
  void TearDown() override {
    window.reset();
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
  }

  void put(const std::string& from, const fs::path& to) { fs::copy_file(kCorpus / from, to); }
  QPushButton* button(const char* name) const {
    return window->findChild<QPushButton*>(QString::fromLatin1(name));
  }
  // Lists the source tree through the folder add, then converts into `out`.
  void listAndConvert() {
    chooser.results.push_back(source.string());
    button("addFolderButton")->click();
    ASSERT_EQ(messages.shown.size(), 1u);
    messages.shown.clear();
    chooser.results.push_back(out.string());
    button("convertButton")->click();
  }

  fs::path scratch, source, out;
  importer::EngineStoreService store;
  std::unique_ptr<MainWindow> window;
  ScriptedMessageBox messages;
  FakeFolderDialog chooser;
};

TEST_F(WindowEngineTest, ConvertsTheListedTreeIntoAStoreThatReadersRead) {
  listAndConvert();
  EXPECT_TRUE(messages.shown.empty()) << messages.shown[0].text;
  ASSERT_TRUE(window->controller().lastRun());
  const auto& run = *window->controller().lastRun();
  ASSERT_EQ(run.stage, conversion::RunResult::Stage::Completed);
  EXPECT_EQ(run.converted, 5u);
  const fs::path pst = OnlyStoreIn(out);
  ASSERT_FALSE(pst.empty());
  EXPECT_EQ(pst.string(), run.storeFilePath);
  EXPECT_EQ(pst.filename().string().rfind("OstrelMSGMessages", 0), 0u);
  EXPECT_EQ(window->findChild<QGroupBox*>("progressFrame")->title(),
            QStringLiteral("Details : Converting - (5 of 5) file(s)"));

  EXPECT_TRUE(CheckerPasses(pst, scratch));

  // The tree below the store's top folder mirrors the source tree: the listed
  // files go to their own folders, in list order, with their own subjects.
  const List subjects = SubjectsOf({source / "Mail" / "Subject.msg", source / "Mail" / "Work" / "a.msg",
                                    source / "Mail" / "Work" / "b.MSG", source / "Notes" / "sent.msg",
                                    source / "Notes" / "test1.msg"},
                                   scratch);
  ASSERT_EQ(subjects.size(), 5u) << subjects[0];
  const std::string tree = ReadBack(pst, scratch);
  // Every folder on the way to the files is in the store, below its top folder.
  const std::string top = "/Top of Outlook data file" + source.string();
  std::string expected = top + " 0\n" + top + "/Mail 1\n  " + subjects[0] + "\n";
  expected += top + "/Mail/Work 2\n  " + subjects[1] + "\n  " + subjects[2] + "\n";
  expected += top + "/Notes 2\n  " + subjects[3] + "\n  " + subjects[4] + "\n";
  EXPECT_NE(tree.find(expected), std::string::npos) << tree << "\nexpected:\n" << expected;
  EXPECT_EQ(ReadpstMessageCount(pst, scratch), 5);
}

TEST_F(WindowEngineTest, ABrokenFileShowsOneFailureBoxAndLeavesNoMessage) {
  put(kBroken, source / "Mail" / "broken.msg");
  listAndConvert();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].title, "Parvane");
  EXPECT_EQ(messages.shown[0].icon, platform::MessageIcon::Exclamation);
  EXPECT_THAT(messages.shown[0].text, ::testing::HasSubstr((source / "Mail" / "broken.msg").string()));
  ASSERT_TRUE(window->controller().lastRun());
  const auto& run = *window->controller().lastRun();
  EXPECT_EQ(run.converted, 5u);
  ASSERT_EQ(run.failures.size(), 1u);

  const fs::path pst = OnlyStoreIn(out);
  ASSERT_FALSE(pst.empty());
  EXPECT_TRUE(CheckerPasses(pst, scratch));
  const std::string tree = ReadBack(pst, scratch);
  EXPECT_NE(tree.find(source.string() + "/Mail 1\n  Subject\n"), std::string::npos) << tree;
  EXPECT_EQ(ReadpstMessageCount(pst, scratch), 5);
}

// A FIFO named like a message file is listed by the folder add (the walk does
// not open files) and refused by the run with its reason, without waiting for
// a writer that never comes; the rest is converted.
TEST_F(WindowEngineTest, AFifoIsRefusedWithItsReasonAndNothingWaits) {
  const fs::path fifo = source / "Mail" / "pipe.msg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  listAndConvert();
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_THAT(messages.shown[0].text,
              ::testing::HasSubstr(fifo.string() + "\": not a regular file (a FIFO)"));
  ASSERT_TRUE(window->controller().lastRun());
  const auto& run = *window->controller().lastRun();
  EXPECT_EQ(run.converted, 5u);
  ASSERT_EQ(run.failures.size(), 1u);
  EXPECT_EQ(run.failures[0].path, fifo.string());
  const fs::path pst = OnlyStoreIn(out);
  ASSERT_FALSE(pst.empty());
  EXPECT_TRUE(CheckerPasses(pst, scratch));
  EXPECT_EQ(ReadpstMessageCount(pst, scratch), 5);
}

// As the program does: the window bound to the engine lists `files` copies,
// converts them into `out`, and is closed once three files are in, from a
// timer that the run's yields serve.
void CloseMidRun(const fs::path& source, const fs::path& out, int files) {
  TestApp();
  importer::EngineStoreService store;
  MainWindow window;
  BindEngine(window, store);
  ScriptedMessageBox messages;
  FakeFolderDialog chooser;
  chooser.results.push_back(out.string());
  window.setMessageBox(&messages);
  window.setFolderDialog(&chooser);
  const filelist::FileListControls list{window.grid(), window.countLabel()};
  for (int i = 0; i < files; ++i) {
    filelist::AppendToList(list, (source / ("m" + std::to_string(i) + ".msg")).string());
  }
  window.convertButton().setEnabled(true);
  window.show();
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &window, [&] {
    // "Details : Converting - (N of M) file(s)"
    const std::string caption = window.frameCaption().caption();
    const auto open = caption.find('(');
    if (open != std::string::npos && std::atoi(caption.c_str() + open + 1) >= 3) window.close();
  });
  watch.start(1);
  window.findChild<QPushButton*>("convertButton")->click();
}

// Closing the window inside a yield of a run ends the process at once; the
// store the run was filling is committed and closed on the way out, so the
// file holds every message saved before the close and passes the checker.
TEST(WindowEngineDeathTest, ClosingMidRunLeavesACommittedStore) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const fs::path scratch = ScratchFolder("PARVANE_MID_RUN_FOLDER");
  ASSERT_FALSE(scratch.empty());
  const fs::path source = scratch / "src", out = scratch / "out";
  constexpr int kFiles = 200;
  fs::create_directories(source);
  fs::create_directories(out);
  for (int i = 0; i < kFiles; ++i) {
    fs::copy_file(kCorpus / "HiraokaHyperTools-msgreader/test1.msg",
                  source / ("m" + std::to_string(i) + ".msg"), fs::copy_options::overwrite_existing);
  }
  EXPECT_EXIT(
      {
        CloseMidRun(source, out, kFiles);
        std::fprintf(stderr, "resumed\n");
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), ::testing::Not(::testing::HasSubstr("resumed")));

  const fs::path pst = OnlyStoreIn(out);
  ASSERT_FALSE(pst.empty());
  EXPECT_TRUE(CheckerPasses(pst, scratch));
  const int saved = ReadpstMessageCount(pst, scratch);
  EXPECT_GE(saved, 3);
  EXPECT_LT(saved, kFiles);  // the run really was cut short
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  unsetenv("PARVANE_MID_RUN_FOLDER");
}

}  // namespace
}  // namespace parvane::app
