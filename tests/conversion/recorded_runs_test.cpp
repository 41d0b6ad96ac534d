// Whole conversion runs over our engine with the clock and the random source
// fixed, compared with what was recorded before the run was rebuilt on the
// typed store service: the store files byte for byte (their SHA-256) and what
// the window showed (every change of a caption, a progress bar, a button, and
// every box). A difference means a user would see or get something else.
//
// PARVANE_RECORD=1 writes the recordings anew into tests/conversion/recorded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "recorded_window.h"

namespace parvane::conversion {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(PARVANE_SHARED_DIR) / "corpus" / "msg";
const fs::path kRecorded = fs::path(PARVANE_SOURCE_DIR) / "tests" / "conversion" / "recorded";

std::string ReadText(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

std::string Sha256Of(const fs::path& file, const fs::path& scratch) {
  const fs::path sum = scratch / "sum.txt";
  const std::string command = "sha256sum '" + file.string() + "' > '" + sum.string() + "'";
  if (std::system(command.c_str()) != 0) return "<sha256sum failed>";
  return ReadText(sum).substr(0, 64);
}

// The runs see their files under /proc/self/cwd, the scratch folder, so the
// store's folder names are the same wherever the test runs.
class RecordedRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "parvane-recorded-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch = pattern;
    previous = fs::current_path();
    fs::current_path(scratch);
    fs::create_directories(scratch / "out");
  }
  void TearDown() override {
    fs::current_path(previous);
    fs::remove_all(scratch);
  }

  static std::string Listed(const fs::path& relative) {
    return "/proc/self/cwd/" + relative.generic_string();
  }

  // The files below `folder` (relative to the scratch folder), in path order.
  std::vector<std::string> FilesBelow(const fs::path& folder) const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(scratch / folder)) {
      if (entry.is_regular_file()) found.push_back(entry.path().lexically_relative(scratch));
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> rows;
    for (const auto& file : found) rows.push_back(Listed(file));
    return rows;
  }

  // Compares with the recording `name`, or writes it with PARVANE_RECORD=1.
  void Expect(const std::string& name, const std::string& actual) {
    const fs::path file = kRecorded / name;
    if (std::getenv("PARVANE_RECORD") != nullptr) {
      fs::create_directories(kRecorded);
      std::ofstream(file, std::ios::binary) << actual;
      return;
    }
    ASSERT_TRUE(fs::exists(file)) << file;
    EXPECT_EQ(ReadText(file), actual) << "differs from " << file;
  }

  // One run into out/ and what it left: the store's digest, then the window.
  std::string RunAndDescribe(const std::vector<std::string>& rows, std::string destination = {}) {
    RecordedWindow window(rows, destination.empty() ? (scratch / "out").string() : destination);
    window.convert();
    std::string description;
    for (const auto& entry : fs::directory_iterator(scratch / "out")) {
      description += "store " + entry.path().filename().string() + " " +
                     std::to_string(fs::file_size(entry.path())) + " " + Sha256Of(entry.path(), scratch) +
                     "\n";
      fs::remove(entry.path());
    }
    description += window.log();
    // The scratch folder's name changes from run to run.
    const std::string where = scratch.string();
    for (auto at = description.find(where); at != std::string::npos;
         at = description.find(where, at)) {
      description.replace(at, where.size(), "<scratch>");
    }
    return description;
  }

  fs::path scratch, previous;
};

TEST_F(RecordedRunsTest, TheCorpusGivesTheRecordedStoreAndWindow) {
  fs::create_directory_symlink(kCorpus, scratch / "corpus");
  const auto rows = FilesBelow("corpus");
  ASSERT_GT(rows.size(), 100u);
  Expect("corpus.txt", RunAndDescribe(rows));
}

// Good files beside empty, truncated, foreign and missing ones, folders whose
// names differ only in letter case, and a file listed twice.
TEST_F(RecordedRunsTest, ATreeWithBrokenFilesGivesTheRecordedStoreAndWindow) {
  const fs::path tree = scratch / "tree";
  fs::create_directories(tree / "Mail" / "Work");
  fs::create_directories(tree / "mail" / "Work");
  fs::create_directories(tree / "Other");
  fs::copy_file(kCorpus / "HiraokaHyperTools-msgreader" / "Subject.msg", tree / "Mail" / "a.msg");
  fs::copy_file(kCorpus / "HiraokaHyperTools-msgreader" / "attachAndInline.msg",
                tree / "Mail" / "Work" / "b.msg");
  fs::copy_file(kCorpus / "HiraokaHyperTools-msgreader" / "Hello_CJK.msg",
                tree / "mail" / "Work" / "c.msg");
  std::ofstream(tree / "Other" / "empty.msg").close();
  std::ofstream(tree / "Other" / "text.msg") << "This is not a message file.\n";
  const std::string whole = ReadText(kCorpus / "HiraokaHyperTools-msgreader" / "Subject.msg");
  std::ofstream(tree / "Other" / "truncated.msg", std::ios::binary) << whole.substr(0, 3000);
  auto rows = FilesBelow("tree");
  rows.push_back(Listed("tree/Other/missing.msg"));
  rows.push_back(Listed("tree/Mail/a.msg"));
  Expect("broken-tree.txt", RunAndDescribe(rows));
}

// The store cannot be created (its folder is gone), and an empty list: the
// preparation box.
TEST_F(RecordedRunsTest, FailedPreparationsShowTheRecordedBoxes) {
  fs::create_directories(scratch / "tree" / "Mail");
  fs::copy_file(kCorpus / "HiraokaHyperTools-msgreader" / "Subject.msg",
                scratch / "tree" / "Mail" / "a.msg");
  std::string description =
      RunAndDescribe({Listed("tree/Mail/a.msg")}, (scratch / "gone").string());
  description += "--- empty list\n" + RunAndDescribe({std::string()});
  Expect("failed-preparation.txt", description);
}

}  // namespace
}  // namespace parvane::conversion
