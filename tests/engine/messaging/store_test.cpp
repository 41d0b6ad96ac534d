#include "engine/messaging/store.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "engine/messaging/errors.h"
#include "engine/msg/message.h"
#include "support/msg_writer.h"

namespace parvane::messaging {
namespace {

namespace fs = std::filesystem;

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult run(const std::string& command) {
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

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("store-test-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // pstcheck's verdict: the output, with the exit status 0 only for no errors.
  static CommandResult pstcheck(const std::string& file) {
    return run(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck " + file);
  }

  fs::path dir_;
};

TEST_F(StoreTest, ANewStorePassesTheChecker) {
  auto file = path("new.pst");
  {
    auto store = Store::create(file, u"Ostrel Software : Created - 6.12.26 9.5.07");
    store->close();
  }
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_NE(check.output.find(" 0 errors"), std::string::npos) << check.output;
}

TEST_F(StoreTest, AnExistingPathIsRefused) {
  auto file = path("exists.pst");
  std::ofstream(file) << "x";
  EXPECT_ANY_THROW(Store::create(file, u"X"));
  std::ifstream in(file);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "x");
}

}  // namespace
}  // namespace parvane::messaging
