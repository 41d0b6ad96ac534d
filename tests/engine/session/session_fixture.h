// Shared pieces of the session tests: a scratch folder, the factory, shell
// commands for the independent readers, and the calls the conversion run makes.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/session/engine_object_factory.h"
#include "engine/session/profile.h"
#include "platform/automation.h"

namespace parvane::session::testing {

namespace fs = std::filesystem;
using platform::as;

struct CommandResult {
  int status = -1;
  std::string output;
};

inline CommandResult run(const std::string& command) {
  CommandResult r;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
  int st = ::pclose(pipe);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline std::string shellQuoted(const std::string& s) { return "'" + s + "'"; }

inline CommandResult pstcheck(const std::string& file) {
  return run(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + shellQuoted(file));
}

// Messages per folder name as libpff sees them: "name count" lines.
inline CommandResult folderCounts(const std::string& file) {
  return run("/usr/bin/python3 -c \"import pypff,sys\n"
             "f=pypff.file(); f.open(sys.argv[1])\n"
             "def walk(d):\n"
             "  for i in range(d.number_of_sub_folders):\n"
             "    s=d.get_sub_folder(i); print(s.name, s.number_of_sub_messages); walk(s)\n"
             "walk(f.get_root_folder())\" " + shellQuoted(file));
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("session-test-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    Profile::instance().closeAll();
    if (!HasFailure()) fs::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::shared_ptr<platform::RDOSession> logon() {
    auto session = as<platform::RDOSession>(factory_.CreateObject("Redemption.RDOSession"));
    session->Logon();
    return session;
  }

  // Imports a file into a folder as the run does: new item, Import, flags 17, Save.
  void importInto(platform::RDOSession& session, const std::string& folderPath, const std::string& file) {
    auto mail = session.GetFolderFromPath(folderPath)->Items()->Add(std::int32_t{0});
    std::exception_ptr failure;
    try {
      mail->Import(file, 3);
    } catch (...) {
      failure = std::current_exception();
    }
    auto utils = as<platform::MAPIUtils>(factory_.CreateObject("Redemption.MAPIUtils"));
    utils->HrSetOneProp(*mail->MAPIOBJECT(), 0x0E070003, std::int16_t{17}, true);
    mail->Save();
    if (failure) std::rethrow_exception(failure);
  }

  EngineObjectFactory factory_;
  fs::path dir_;
};

}  // namespace parvane::session::testing
