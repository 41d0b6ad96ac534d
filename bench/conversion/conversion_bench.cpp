// Conversion benchmarks beside their baselines (scripts/bench-conversion runs
// them all in one go):
//
//   parvane_bench_conversion make DIR COUNT [FOLDERS]
//       writes COUNT small messages (text body, two recipients, every third
//       with a 2 KB attachment) spread over FOLDERS subfolders of DIR
//       (default 10); prints the number of bytes written.
//   parvane_bench_conversion make-mix DIR COUNT [FOLDERS] [BIG_EVERY] [ATTACH_EVERY]
//       writes COUNT messages of the realistic mix (bench/mix: most under
//       50 KB, one in BIG_EVERY (default 1000) with an attachment of 1 to
//       20 MB, one in 200 with an embedded message) over FOLDERS subfolders
//       (default 1), one in ATTACH_EVERY (default 5, 0 for none) with small
//       attachments; prints the number of bytes written.
//   parvane_bench_conversion run-sim COUNT [FOLDERS]
//       the run's own memory per listed file: COUNT paths as a walk lists them
//       (about 70 characters, over FOLDERS folders, default 1000) through
//       convert() over a store service that keeps nothing; run it under
//       /usr/bin/time -v for the peak. The engine's memory is
//       parvane_bench_store's to measure.
//   parvane_bench_conversion window DIR OUT
//       the Qt window, offscreen, over the engine: lists every .msg below DIR,
//       converts them into the folder OUT, and meanwhile lets a 10 ms timer
//       note how long the event loop went without serving it. Prints the
//       largest gaps with what the window showed before and after each one,
//       the run's time and how long the store's final commit and close took.
#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/engine_binding.h"
#include "conversion/convert.h"
#include "app/main_window.h"
#include "filelist/file_list.h"
#include "message_mix.h"
#include "support/msg_writer.h"

namespace fs = std::filesystem;
using namespace parvane;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: parvane_bench_conversion make DIR COUNT [FOLDERS]\n"
               "       parvane_bench_conversion make-mix DIR COUNT [FOLDERS] [BIG_EVERY] [ATTACH_EVERY]\n"
               "       parvane_bench_conversion run-sim COUNT [FOLDERS]\n"
               "       parvane_bench_conversion window DIR OUT\n");
  return 2;
}

int Make(const fs::path& dir, int count, int folders) {
  std::string body;
  for (int i = 0; i < 40; ++i) body += "Line of a plain text body with some words in it. ";
  std::uintmax_t bytes = 0;
  for (int i = 0; i < count; ++i) {
    const fs::path folder = dir / ("folder" + std::to_string(i % folders));
    fs::create_directories(folder);
    std::vector<std::pair<std::string, core::Bytes>> attachments;
    if (i % 3 == 0) {
      attachments.push_back({"note.txt", core::Bytes(2048, static_cast<std::uint8_t>('a' + i % 26))});
    }
    const auto message =
        testsupport::simpleMessage("Message " + std::to_string(i), body,
                                   {"first@example.com", "second@example.com"}, attachments);
    char name[32];
    std::snprintf(name, sizeof name, "%06d.msg", i);
    testsupport::writeMsgFile(folder / name, message);
    bytes += fs::file_size(folder / name);
  }
  std::printf("%ju\n", bytes);
  return 0;
}

int MakeMix(const fs::path& dir, std::uint64_t count, std::uint64_t folders, std::uint64_t bigEvery,
            std::uint64_t attachEvery) {
  std::uintmax_t bytes = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    const fs::path folder = dir / ("folder" + std::to_string(i % folders));
    if (i < folders) fs::create_directories(folder);
    char name[32];
    std::snprintf(name, sizeof name, "%08llu.msg", static_cast<unsigned long long>(i));
    const core::Bytes file = testsupport::writeMsg(benchmix::mixMessage(i, {bigEvery, attachEvery}));
    std::FILE* out = std::fopen((folder / name).string().c_str(), "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
      std::fprintf(stderr, "cannot write %s\n", (folder / name).string().c_str());
      return 1;
    }
    bytes += file.size();
  }
  std::printf("%ju\n", bytes);
  return 0;
}

// Answers the destination chooser with one folder.
class FixedFolder : public platform::FolderDialog {
 public:
  explicit FixedFolder(std::string folder) : folder_(std::move(folder)) {}
  std::string browse(std::intptr_t, const std::string&) override { return folder_; }

 private:
  std::string folder_;
};

// Notes every box instead of showing it.
class NotedBoxes : public platform::MessageBox {
 public:
  platform::MessageAnswer show(const std::string& text, platform::MessageButtons,
                               platform::MessageIcon, const std::string&) override {
    texts.push_back(text);
    return platform::MessageAnswer::Ok;
  }
  std::vector<std::string> texts;
};

// Passes every call on to the engine and times removeStore (the store's final
// commit and close), so the largest gap can be set against it.
class TimedStore final : public conversion::StoreService {
 public:
  explicit TimedStore(conversion::StoreService& engine) : engine_(engine) {}

  conversion::Status createStore(const std::string& path, conversion::StoreFormat format,
                                 const std::string& displayName) override {
    return engine_.createStore(path, format, displayName);
  }
  conversion::Result<conversion::FolderHandle> topFolder() override { return engine_.topFolder(); }
  conversion::Result<std::vector<std::string>> subfolderNames(
      conversion::FolderHandle folder) override {
    return engine_.subfolderNames(folder);
  }
  conversion::Result<conversion::FolderHandle> addFolder(conversion::FolderHandle parent,
                                                         const std::string& name,
                                                         conversion::FolderKind kind) override {
    return engine_.addFolder(parent, name, kind);
  }
  conversion::Result<conversion::FolderHandle> storeFolder(const std::string& name) override {
    return engine_.storeFolder(name);
  }
  conversion::Result<conversion::FolderHandle> subfolder(conversion::FolderHandle parent,
                                                         const std::string& name) override {
    return engine_.subfolder(parent, name);
  }
  conversion::Result<conversion::FolderHandle> folderAtPath(const std::string& path) override {
    return engine_.folderAtPath(path);
  }
  void expectImports(std::shared_ptr<const conversion::PathList> files) override {
    engine_.expectImports(std::move(files));
  }
  conversion::Result<conversion::ItemHandle> addItem(conversion::FolderHandle folder) override {
    return engine_.addItem(folder);
  }
  conversion::Status importMessage(conversion::ItemHandle item, const std::string& file) override {
    return engine_.importMessage(item, file);
  }
  conversion::Status setFlags(conversion::ItemHandle item, std::uint32_t flags) override {
    return engine_.setFlags(item, flags);
  }
  conversion::Status save(conversion::ItemHandle item) override { return engine_.save(item); }
  void discardItem(conversion::ItemHandle item) override { engine_.discardItem(item); }
  conversion::Result<bool> fitsWithin(conversion::ItemHandle item, std::uint64_t bytes) override {
    return engine_.fitsWithin(item, bytes);
  }
  std::uint64_t storeSize() override { return engine_.storeSize(); }
  std::size_t durableMessages() override { return engine_.durableMessages(); }
  conversion::Status removeStore() override {
    QElapsedTimer timer;
    timer.start();
    conversion::Status removed = engine_.removeStore();
    removeMs = timer.elapsed();
    return removed;
  }
  void endSession() override { engine_.endSession(); }

  qint64 removeMs = -1;

 private:
  conversion::StoreService& engine_;
};

struct Gap {
  qint64 ms = 0;
  std::string before, after;  // the frame's caption at both ends
};

int Window(int argc, char** argv, const fs::path& dir, const fs::path& out) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".msg") {
      files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no .msg files below %s\n", dir.c_str());
    return 1;
  }

  importer::EngineStoreService engine;
  TimedStore store(engine);
  app::MainWindow window;
  app::BindEngine(window, engine);
  window.setStoreService(&store);
  FixedFolder chooser(out.string());
  NotedBoxes boxes;
  window.setFolderDialog(&chooser);
  window.setMessageBox(&boxes);
  const filelist::FileListControls list{window.grid(), window.countLabel()};
  for (const auto& file : files) filelist::AppendToList(list, file);
  window.convertButton().setEnabled(true);
  window.show();

  // The timer asks to be served every 10 ms; a gap is the time between two
  // services beyond that.
  std::vector<Gap> gaps;
  QElapsedTimer sinceTick;
  std::string lastCaption;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  int ticks = 0;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 elapsed = sinceTick.restart();
    const std::string caption = window.frameCaption().caption();
    if (ticks++ > 0) gaps.push_back({elapsed, lastCaption, caption});
    lastCaption = caption;
  });

  QElapsedTimer run;
  double runSeconds = 0;
  QTimer::singleShot(0, [&] {
    sinceTick.start();
    ticker.start(10);
    run.start();
    window.findChild<QPushButton*>("convertButton")->click();
    runSeconds = static_cast<double>(run.nsecsElapsed()) / 1e9;
    ticker.stop();
    QApplication::quit();
  });
  QApplication::exec();

  if (!window.controller().lastRun()) {
    std::fprintf(stderr, "the run did not start\n");
    return 1;
  }
  const conversion::RunResult& outcome = *window.controller().lastRun();
  std::printf("window run: %zu files, %zu converted, %zu failed, %.3f s (%.0f msg/s)\n",
              files.size(), outcome.converted, outcome.failures.size(), runSeconds,
              static_cast<double>(outcome.converted) / runSeconds);
  std::printf("timer served %d times during the run; removing the store (final commit and close) "
              "took %lld ms\n",
              ticks, static_cast<long long>(store.removeMs));
  std::sort(gaps.begin(), gaps.end(), [](const Gap& a, const Gap& b) { return a.ms > b.ms; });
  const std::size_t shown = std::min<std::size_t>(gaps.size(), 5);
  for (std::size_t i = 0; i < shown; ++i) {
    std::printf("gap %lld ms: from \"%s\" to \"%s\"\n", static_cast<long long>(gaps[i].ms),
                gaps[i].before.c_str(), gaps[i].after.c_str());
  }
  if (!gaps.empty()) {
    std::printf("largest gap: %lld ms (limit 100 ms): %s\n", static_cast<long long>(gaps[0].ms),
                gaps[0].ms <= 100 ? "within" : "OVER");
  }
  return outcome.stage == conversion::RunResult::Stage::Completed ? 0 : 1;
}

// Accepts every folder and message and keeps none of them.
class NullStore final : public conversion::StoreService {
 public:
  conversion::Status createStore(const std::string&, conversion::StoreFormat, const std::string&) override {
    return conversion::Done{};
  }
  conversion::Result<conversion::FolderHandle> topFolder() override { return conversion::FolderHandle{1}; }
  conversion::Result<std::vector<std::string>> subfolderNames(conversion::FolderHandle) override {
    return std::vector<std::string>{};
  }
  conversion::Result<conversion::FolderHandle> addFolder(conversion::FolderHandle, const std::string&,
                                                         conversion::FolderKind) override {
    return conversion::FolderHandle{++folders_};
  }
  conversion::Result<conversion::FolderHandle> storeFolder(const std::string&) override {
    return conversion::FolderHandle{1};
  }
  conversion::Result<conversion::FolderHandle> subfolder(conversion::FolderHandle, const std::string&) override {
    return conversion::FolderHandle{2};
  }
  conversion::Result<conversion::FolderHandle> folderAtPath(const std::string&) override {
    return conversion::FolderHandle{2};
  }
  void expectImports(std::shared_ptr<const conversion::PathList>) override {}
  conversion::Result<conversion::ItemHandle> addItem(conversion::FolderHandle) override {
    return conversion::ItemHandle{1};
  }
  conversion::Status importMessage(conversion::ItemHandle, const std::string&) override { return conversion::Done{}; }
  conversion::Status setFlags(conversion::ItemHandle, std::uint32_t) override { return conversion::Done{}; }
  conversion::Status save(conversion::ItemHandle) override {
    ++saved_;
    return conversion::Done{};
  }
  void discardItem(conversion::ItemHandle) override {}
  conversion::Result<bool> fitsWithin(conversion::ItemHandle, std::uint64_t) override { return true; }
  std::uint64_t storeSize() override { return 0; }
  std::size_t durableMessages() override { return saved_; }
  conversion::Status removeStore() override { return conversion::Done{}; }
  void endSession() override {}

 private:
  std::uint32_t folders_ = 2;
  std::size_t saved_ = 0;
};

class QuietObserver final : public conversion::RunObserver {};

int RunSimulation(std::uint64_t count, std::uint64_t folders) {
  conversion::ConversionRequest request;
  request.destinationFolder = "/srv/out";
  request.pathRules = conversion::kPosixPathRules;
  request.files.reserve(count, count * 20);
  char name[32];
  for (std::uint64_t i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "/message-%07llu.msg", static_cast<unsigned long long>(i));
    request.files.append("/srv/mail/archive-2019/mailbox/folder-" + std::to_string(i % folders) + name);
  }
  NullStore store;
  QuietObserver observer;
  const conversion::RunResult result = conversion::convert(request, store, observer);
  std::printf("%zu listed, %zu converted\n", request.files.size(), result.converted);
  return result.converted == count ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "make" && (argc == 4 || argc == 5)) {
    return Make(argv[2], std::atoi(argv[3]), argc == 5 ? std::max(1, std::atoi(argv[4])) : 10);
  }
  if (command == "make-mix" && argc >= 4 && argc <= 7)
    return MakeMix(argv[2], std::strtoull(argv[3], nullptr, 10), argc >= 5 ? std::max(1ull, std::strtoull(argv[4], nullptr, 10)) : 1,
                   argc >= 6 ? std::strtoull(argv[5], nullptr, 10) : 1000,
                   argc == 7 ? std::strtoull(argv[6], nullptr, 10) : 5);
  if (command == "run-sim" && (argc == 3 || argc == 4)) {
    return RunSimulation(std::strtoull(argv[2], nullptr, 10),
                         argc == 4 ? std::max(1ull, std::strtoull(argv[3], nullptr, 10)) : 1000);
  }
  if (command == "window" && argc == 4) return Window(argc, argv, argv[2], argv[3]);
  return Usage();
}
