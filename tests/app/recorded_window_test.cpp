// The windows' conversion (the controller both front ends share) over our
// engine with the clock and the random source fixed, compared with what the
// window showed and the store it wrote before the run was rebuilt on the typed
// conversion API (tests/app/recorded): every change of a caption, a
// progress bar or a button, every box, the row left current, and the store's
// bytes (their SHA-256). A difference means a user would see or get something
// else.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_window_controller.h"
#include "import/engine_store_service.h"
#include "support/fake_ui.h"

namespace parvane::app {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(PARVANE_SHARED_DIR) / "corpus" / "msg";
const fs::path kRecorded = fs::path(PARVANE_SOURCE_DIR) / "tests" / "app" / "recorded";

std::string ReadText(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Fixed times and a fixed random sequence, and commits left to the byte count,
// as the recordings were made.
messaging::StoreOptions RepeatableStoreOptions() {
  messaging::StoreOptions options;
  options.commitEveryMilliseconds = std::numeric_limits<std::uint32_t>::max();
  options.fileTime = [] { return std::uint64_t{0x01DD6A2B'4C3D2E00}; };
  options.random = [state = std::uint64_t{0x5EED}]() mutable {
    state += 0x9E3779B97F4A7C15ull;  // splitmix64
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  return options;
}

// Controls that write every change a user could see into one log, a line each.
class LoggedLabel : public platform::Label {
 public:
  LoggedLabel(std::string& log, std::string name, std::string caption)
      : log_(log), name_(std::move(name)), caption_(std::move(caption)) {}
  std::string caption() const override { return caption_; }
  void setCaption(const std::string& caption) override {
    if (caption != caption_) log_ += name_ + ": " + caption + "\n";
    caption_ = caption;
  }

 private:
  std::string& log_;
  std::string name_, caption_;
};

class LoggedButton : public platform::Button {
 public:
  LoggedButton(std::string& log, std::string name, bool enabled)
      : log_(log), name_(std::move(name)), enabled_(enabled) {}
  bool enabled() const override { return enabled_; }
  void setEnabled(bool enabled) override {
    if (enabled != enabled_) log_ += name_ + (enabled ? ": enabled\n" : ": disabled\n");
    enabled_ = enabled;
  }

 private:
  std::string& log_;
  std::string name_;
  bool enabled_;
};

class LoggedBar : public platform::ProgressBar {
 public:
  LoggedBar(std::string& log, std::string name) : log_(log), name_(std::move(name)) {}
  void setMin(float min) override { change("min", min_, min); }
  void setMax(float max) override { change("max", max_, max); }
  float value() const override { return value_; }
  void setValue(float value) override { change("value", value_, value); }

 private:
  void change(const char* what, float& held, float value) {
    if (value != held) {
      char text[64];
      std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
      log_ += name_ + " " + what + ": " + text + "\n";
    }
    held = value;
  }
  std::string& log_;
  std::string name_;
  float min_ = 0, max_ = 100, value_ = 0;
};

class LoggedBox : public platform::MessageBox {
 public:
  explicit LoggedBox(std::string& log) : log_(log) {}
  platform::MessageAnswer show(const std::string& text, platform::MessageButtons buttons,
                               platform::MessageIcon icon, const std::string& title) override {
    log_ += "box \"" + title + "\" buttons " + std::to_string(static_cast<int>(buttons)) +
            " icon " + std::to_string(static_cast<int>(icon)) + ":\n" + text + "\n(end of box)\n";
    return platform::MessageAnswer::Ok;
  }

 private:
  std::string& log_;
};

// The window with `rows` listed, its convert button enabled, the destination
// chooser answering `destination`.
class LoggedWindow {
 public:
  LoggedWindow(const std::vector<std::string>& rows, std::string destination) {
    grid_.setRows(static_cast<std::int32_t>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
      grid_.setRow(static_cast<std::int32_t>(i));
      grid_.setCol(0);
      grid_.setText(rows[i]);
    }
    grid_.setRow(0);
    chooser_.results.push_back(std::move(destination));
  }

  // Clicks "Convert Messages" once, as the windows do.
  void convert() {
    importer::EngineStoreService store(RepeatableStoreOptions());
    ConversionSettings settings;
    settings.clock = [] { return conversion::LocalTime{2026, 12, 6, 9, 5, 7}; };
    settings.pathRules = conversion::kPosixPathRules;
    MainWindowController controller(
        {grid_, count_, frame_, label_, bar1_, bar2_, add_, addFolder_, clear_, convert_, exit_,
         box_, opener_, chooser_, desktop_, files_},
        store, settings);
    controller.convert();
    log_ += "current row " + std::to_string(grid_.currentRow()) + "\n";
  }

  const std::string& log() const { return log_; }

 private:
  std::string log_;
  testing::FakeGrid grid_;
  LoggedLabel count_{log_, "count", "0 files"}, frame_{log_, "frame", "Details :"},
      label_{log_, "label", "-"};
  LoggedBar bar1_{log_, "bar1"}, bar2_{log_, "bar2"};
  LoggedButton add_{log_, "add", true}, addFolder_{log_, "add folder", true},
      clear_{log_, "clear", true}, convert_{log_, "convert", true}, exit_{log_, "exit", true};
  LoggedBox box_{log_};
  testing::FakeOpenFileDialog opener_;
  testing::FakeFolderDialog chooser_;
  testing::FakeDesktop desktop_;
  testing::MemoryFileSystem files_;
};

std::string Sha256Of(const fs::path& file, const fs::path& scratch) {
  const fs::path sum = scratch / "sum.txt";
  const std::string command = "sha256sum '" + file.string() + "' > '" + sum.string() + "'";
  if (std::system(command.c_str()) != 0) return "<sha256sum failed>";
  return ReadText(sum).substr(0, 64);
}

// The runs see their files under /proc/self/cwd, the scratch folder, so the
// store's folder names are the same wherever the test runs.
class RecordedWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "parvane-window-recorded-XXXXXX").string();
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

  void Expect(const std::string& name, const std::string& actual) {
    const fs::path file = kRecorded / name;
    ASSERT_TRUE(fs::exists(file)) << file;
    EXPECT_EQ(ReadText(file), actual) << "differs from " << file;
  }

  // One click into out/ and what it left: the store's digest, then the window.
  std::string RunAndDescribe(const std::vector<std::string>& rows, std::string destination = {}) {
    LoggedWindow window(rows, destination.empty() ? (scratch / "out").string() : destination);
    window.convert();
    std::string description;
    for (const auto& entry : fs::directory_iterator(scratch / "out")) {
      description += "store " + entry.path().filename().string() + " " +
                     std::to_string(fs::file_size(entry.path())) + " " +
                     Sha256Of(entry.path(), scratch) + "\n";
      fs::remove(entry.path());
    }
    description += window.log();
    const std::string where = scratch.string();
    for (auto at = description.find(where); at != std::string::npos;
         at = description.find(where, at)) {
      description.replace(at, where.size(), "<scratch>");
    }
    return description;
  }

  fs::path scratch, previous;
};

TEST_F(RecordedWindowTest, TheCorpusGivesTheRecordedStoreAndWindow) {
  fs::create_directory_symlink(kCorpus, scratch / "corpus");
  const auto rows = FilesBelow("corpus");
  ASSERT_GT(rows.size(), 100u);
  Expect("corpus.txt", RunAndDescribe(rows));
}

// Good files beside empty, truncated, foreign and missing ones, folders whose
// names differ only in letter case, and a file listed twice.
TEST_F(RecordedWindowTest, ATreeWithBrokenFilesGivesTheRecordedStoreAndWindow) {
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

// The store cannot be created (its destination is gone), and an empty list:
// the preparation box.
TEST_F(RecordedWindowTest, FailedPreparationsShowTheRecordedBoxes) {
  fs::create_directories(scratch / "tree" / "Mail");
  fs::copy_file(kCorpus / "HiraokaHyperTools-msgreader" / "Subject.msg",
                scratch / "tree" / "Mail" / "a.msg");
  std::string description =
      RunAndDescribe({Listed("tree/Mail/a.msg")}, (scratch / "gone").string());
  description += "--- empty list\n" + RunAndDescribe({std::string()});
  Expect("failed-preparation.txt", description);
}

}  // namespace
}  // namespace parvane::app
