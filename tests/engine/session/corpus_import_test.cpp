// Every real .msg file of the shared corpus, imported the way the conversion
// run does it, then read back by independent readers and compared with the
// sources.
#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "session/session_fixture.h"

namespace parvane::session::testing {
namespace {

TEST_F(SessionTest, TheWholeCorpusImportsAndReadsBackLikeItsSources) {
  fs::path corpus = fs::path(PARVANE_SHARED_DIR) / "corpus" / "msg";
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(corpus)) {
    if (e.is_regular_file() && e.path().extension() == ".msg") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GT(files.size(), 50u);

  auto session = logon();
  const std::string name = "Corpus";
  auto file = path("corpus.pst");
  auto store = session->Stores()->AddPSTStore(file, 1, name);
  auto id = store->EntryID();
  // one folder per source collection, below a top-level "msg"
  session->Stores()->GetStoreFromID(id)->IPMRootFolder()->Folders()->Add("msg", 6);
  auto outlook = as<platform::OutlookApplication>(factory_.CreateObject("Outlook.Application"));
  std::set<std::string> collections;
  for (const auto& f : files) collections.insert(f.parent_path().filename().string());
  for (const auto& c : collections)
    outlook->GetNamespace("MAPI")->Folders()->Item(name)->Folders()->Item("msg")->Folders()->Add(c, 6);

  std::ofstream manifest(path("manifest.tsv"));
  std::size_t imported = 0, failed = 0;
  for (const auto& f : files) {
    std::string relative = "msg\\" + f.parent_path().filename().string();
    try {
      importInto(*session, "\\\\" + name + "\\" + relative, f.string());
      manifest << relative << '\t' << f.string() << '\n';
      ++imported;
    } catch (const platform::AutomationError& e) {
      // a file the reader rejects: the error names it, and nothing is stored
      ++failed;
      EXPECT_NE(std::string(e.what()).find(f.string()), std::string::npos) << e.what();
    }
  }
  manifest.close();
  store->Remove();
  session->Logoff();
  EXPECT_GT(imported, failed * 10);

  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output.substr(0, 4000);
  EXPECT_EQ(run("pffinfo " + shellQuoted(file) + " > /dev/null").status, 0);
  auto readpst = run("cd " + shellQuoted(dir_.string()) + " && mkdir -p out && timeout 120 readpst -q -o out " + shellQuoted(file));
  EXPECT_EQ(readpst.status, 0) << readpst.output;
  auto mbox = run("cat " + shellQuoted(dir_.string()) + "/out/*/msg/*/mbox | grep -c '^From '");
  EXPECT_EQ(std::stoul("0" + mbox.output), imported) << mbox.output;
  auto extractor = run("cd " + shellQuoted(std::string(PARVANE_SOURCE_DIR) + "/tests/oracles") +
                       " && timeout 120 node -e \"const {PSTFile}=require('pst-extractor');"
                       "const f=new PSTFile(process.argv[1]);let n=0;"
                       "function walk(d){if(d.contentCount>0){let m=d.getNextChild();while(m){n++;m=d.getNextChild();}}"
                       "if(d.hasSubfolders)for(const c of d.getSubFolders())walk(c);}"
                       "walk(f.getRootFolder());console.log(n);\" " + shellQuoted(file));
  EXPECT_EQ(extractor.status, 0) << extractor.output;
  EXPECT_EQ(extractor.output, std::to_string(imported) + "\n") << "pst-extractor";
  auto compare = run("/usr/bin/python3 " + std::string(PARVANE_SOURCE_DIR) +
                     "/tests/engine/messaging/tools/compare_with_sources.py " + shellQuoted(file) + " " +
                     shellQuoted(path("manifest.tsv")));
  EXPECT_EQ(compare.status, 0) << compare.output.substr(0, 4000);
}

}  // namespace
}  // namespace parvane::session::testing
