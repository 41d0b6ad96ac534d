// Shared pieces of the import tests: a scratch folder, the engine's store
// service, and the checker and the independent readers as shell commands.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "import/engine_store_service.h"
#include "support/msg_writer.h"

namespace parvane::importer {

namespace fs = std::filesystem;
using conversion::FolderKind;
using conversion::StoreFailure;
using conversion::StoreFormat;

struct CommandResult {
  int status = -1;
  std::string output;
};

inline CommandResult Shell(const std::string& command) {
  CommandResult r;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
  const int st = ::pclose(pipe);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

inline CommandResult Pstcheck(const std::string& file) {
  return Shell(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + Quoted(file));
}

// "name count" per folder, as libpff sees the store.
inline std::string FolderCounts(const std::string& file) {
  return Shell("/usr/bin/python3 -c \"import pypff,sys\n"
             "f=pypff.file(); f.open(sys.argv[1])\n"
             "def walk(d):\n"
             "  for i in range(d.number_of_sub_folders):\n"
             "    s=d.get_sub_folder(i); print(s.name, s.number_of_sub_messages); walk(s)\n"
             "walk(f.get_root_folder())\" " +
             Quoted(file))
      .output;
}

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "parvane-engine-service-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }
  std::string path(const std::string& name) const { return (dir / name).string(); }
  std::string message(const std::string& name, const std::string& subject) const {
    const std::string file = path(name);
    testsupport::writeMsgFile(file, testsupport::simpleMessage(subject, "body"));
    return file;
  }
  // A new item in `folder` holding `file`, flagged read and saved.
  conversion::Status importInto(EngineStoreService& store, conversion::FolderHandle folder,
                                const std::string& file) {
    auto item = store.addItem(folder);
    if (!item) return item.error();
    if (auto imported = store.importMessage(item.value(), file); !imported) return imported;
    (void)store.setFlags(item.value(), 17);
    return store.save(item.value());
  }

  fs::path dir;
};

}  // namespace parvane::importer
