// Every real message file of the shared corpus imported the way a run does
// it, then read back by independent readers (Microsoft's own among them) and compared with the sources;
// and damaged copies of real files, which never break the store.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "import_fixture.h"
#include "support/path_lists.h"

namespace parvane::importer {
namespace {

class CorpusImport : public ImportTest {
 protected:
  // Imports the corpus into a new store, one folder per source collection
  // below a top-level "msg"; writes the manifest of what was stored.
  void importCorpus() {
    file_ = path("corpus.pst");
    const fs::path corpus = fs::path(PARVANE_SHARED_DIR) / "corpus" / "msg";
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(corpus)) {
      if (e.is_regular_file() && e.path().extension() == ".msg") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 50u);

    EngineStoreService store;
    ASSERT_TRUE(store.createStore(file_, StoreFormat::Default, "Corpus"));
    const auto msg = store.addFolder(store.topFolder().value(), "msg", FolderKind::Mail).value();
    for (const auto& f : files) collections_.insert(f.parent_path().filename().string());
    for (const auto& c : collections_) ASSERT_TRUE(store.addFolder(msg, c, FolderKind::Mail));

    std::vector<std::string> paths;
    for (const auto& f : files) paths.push_back(f.string());
    store.expectImports(std::make_shared<const conversion::PathList>(parvane::testing::Listed(paths)));
    std::ofstream manifest(path("manifest.tsv"));
    for (const auto& f : files) {
      const std::string relative = "msg\\" + f.parent_path().filename().string();
      const auto folder = store.folderAtPath("\\\\Corpus\\" + relative);
      ASSERT_TRUE(folder);
      if (importInto(store, folder.value(), f.string())) {
        manifest << relative << '\t' << f.string() << '\n';
        ++imported_;
      } else {
        ++failed_;  // a file the reader rejects: nothing is stored
      }
    }
    ASSERT_TRUE(store.removeStore());
    store.endSession();
    EXPECT_GT(imported_, failed_ * 10);
  }

  std::string file_;
  std::set<std::string> collections_;
  std::size_t imported_ = 0, failed_ = 0;
};

TEST_F(CorpusImport, CheckerAndLibpffAndLibpstReadItAllAndItMatchesTheSources) {
  importCorpus();
  const auto check = Pstcheck(file_);
  EXPECT_EQ(check.status, 0) << check.output.substr(0, 4000);
  EXPECT_EQ(Shell("pffinfo " + Quoted(file_) + " > /dev/null").status, 0);
  // Microsoft's own reader walks it whole
  const auto walk = Shell(std::string(PARVANE_PSTWALK) + " " + Quoted(file_));
  EXPECT_EQ(walk.status, 0) << walk.output.substr(0, 4000);

  // readpst counts every item of a folder, done or skipped by class, and its subfolders
  // (as one job: its parallel jobs now and then skip items)
  const auto readpst = Shell("cd " + Quoted(dir.string()) +
                             " && mkdir -p out && timeout 120 readpst -j 0 -o out " + Quoted(file_));
  EXPECT_EQ(readpst.status, 0) << readpst.output;
  std::size_t items = 0;
  std::istringstream lines(readpst.output);
  for (std::string line; std::getline(lines, line);) {
    for (auto at = line.find("- "); at != std::string::npos; at = line.find("- ", at + 1)) {
      unsigned long done = 0, skipped = 0;
      if (std::sscanf(line.c_str() + at, "- %lu items done, %lu items skipped", &done, &skipped) == 2) {
        items += done + skipped;
        break;
      }
    }
  }
  // + Deleted Items, msg and the collections
  EXPECT_EQ(items, imported_ + 2 + collections_.size()) << readpst.output;

  const auto compare = Shell("/usr/bin/python3 " + std::string(PARVANE_SOURCE_DIR) +
                             "/tests/engine/messaging/tools/compare_with_sources.py " +
                             Quoted(file_) + " " + Quoted(path("manifest.tsv")));
  EXPECT_EQ(compare.status, 0) << compare.output.substr(0, 4000);
}

// Damaged copies of real files: each either imports or fails with its cause;
// nothing crashes and the store stays whole.
TEST_F(CorpusImport, DamagedFilesNeverBreakTheStore) {
  const fs::path corpus = fs::path(PARVANE_SHARED_DIR) / "corpus" / "msg";
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(corpus)) {
    if (e.is_regular_file() && e.path().extension() == ".msg" && e.file_size() < (1u << 20)) {
      files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  EngineStoreService store;
  file_ = path("damaged.pst");
  ASSERT_TRUE(store.createStore(file_, StoreFormat::Default, "Damaged"));
  const auto in = store.addFolder(store.topFolder().value(), "In", FolderKind::Mail).value();
  std::uint64_t seed = 0x9E3779B97F4A7C15ULL;
  auto next = [&] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return seed;
  };
  std::size_t stored = 0, refused = 0;
  for (int round = 0; round < 300; ++round) {
    const auto& source = files[next() % files.size()];
    std::ifstream input(source, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
    const int flips = 1 + static_cast<int>(next() % 16);
    for (int k = 0; k < flips; ++k) bytes[next() % bytes.size()] = static_cast<char>(next());
    if (next() % 8 == 0) bytes.resize(next() % bytes.size());
    const auto damaged = path("damaged-" + std::to_string(round) + ".msg");
    std::ofstream(damaged, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const auto imported = importInto(store, in, damaged);
    if (imported) {
      ++stored;
    } else {
      ++refused;
      EXPECT_TRUE(imported.error().cause == StoreFailure::DamagedMessage ||
                  imported.error().cause == StoreFailure::UnreadableMessage)
          << imported.error().detail;
    }
  }
  ASSERT_TRUE(store.removeStore());
  EXPECT_EQ(stored + refused, 300u);
  EXPECT_GT(stored, 0u);  // both paths are exercised
  EXPECT_GT(refused, 0u);
  const auto check = Pstcheck(file_);
  EXPECT_EQ(check.status, 0) << check.output.substr(0, 4000);
  EXPECT_NE(FolderCounts(file_).find("In " + std::to_string(stored) + "\n"), std::string::npos);
}

TEST_F(CorpusImport, PstExtractorReadsEveryMessage) {
  importCorpus();
  const auto extractor = Shell(
      "cd " + Quoted(std::string(PARVANE_SOURCE_DIR) + "/oracles") +
      " && timeout 30 node -e \"const {PSTFile}=require('pst-extractor');"
      "const f=new PSTFile(process.argv[1]);let n=0;"
      "function walk(d){if(d.contentCount>0){let m=d.getNextChild();while(m){n++;m=d.getNextChild();}}"
      "if(d.hasSubfolders)for(const c of d.getSubFolders())walk(c);}"
      "walk(f.getRootFolder());console.log(n);\" " + Quoted(file_));
  EXPECT_EQ(extractor.status, 0) << "pst-extractor failed or hung: " << extractor.output.substr(0, 2000);
  // pst-extractor logs message classes it has no class for (IPM.Post, ...) on
  // standard output; the count is its last line.
  std::string out = extractor.output;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  EXPECT_EQ(out.substr(out.find_last_of('\n') + 1), std::to_string(imported_));
}

}  // namespace
}  // namespace parvane::importer
