// Outside checks on written store files: the structural checker and the
// libpff readers. Findings of the messaging area are set apart, since files
// written at the node database level have no store, folders or messages.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace parvane::testing {

inline std::string runCommand(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return "popen failed";
  std::array<char, 4096> buf{};
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  int st = ::pclose(p);
  if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

struct CheckResult {
  int status = -1;
  std::vector<std::string> errors;     // ERROR lines outside the messaging area
  std::vector<std::string> messaging;  // ERROR lines of the messaging area
  std::vector<std::string> warnings;   // WARN lines
  std::string output;
};

// Runs the checker with --all and sorts its findings.
inline CheckResult pstcheck(const std::string& path) {
  CheckResult r;
  r.output = runCommand(std::string(PARVANE_SHARED_DIR) + "/tools/pstcheck --all '" + path + "'", &r.status);
  std::size_t pos = 0;
  while (pos < r.output.size()) {
    std::size_t end = r.output.find('\n', pos);
    if (end == std::string::npos) end = r.output.size();
    std::string line = r.output.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("ERROR messaging:", 0) == 0) r.messaging.push_back(line);
    else if (line.rfind("ERROR ", 0) == 0) r.errors.push_back(line);
    else if (line.rfind("WARN ", 0) == 0) r.warnings.push_back(line);
  }
  return r;
}

inline std::string joined(const std::vector<std::string>& lines, std::size_t max = 15) {
  std::string s;
  for (std::size_t i = 0; i < lines.size() && i < max; ++i) s += lines[i] + "\n";
  return s;
}

// pffinfo opens the file and lists its header; returns its exit status.
inline int pffinfo(const std::string& path, std::string* out = nullptr) {
  int st = -1;
  std::string o = runCommand("pffinfo '" + path + "'", &st);
  if (out) *out = o;
  return st;
}

// python3-pypff opens the file; returns 0 and the item count when it succeeds.
inline int pypffOpen(const std::string& path, std::string* out = nullptr) {
  int st = -1;
  std::string o = runCommand(
      "/usr/bin/python3 -c \"import pypff,sys; f=pypff.file(); f.open(sys.argv[1]); "
      "print('ok', f.get_size()); f.close()\" '" + path + "'", &st);
  if (out) *out = o;
  return st;
}

}  // namespace parvane::testing

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace parvane::testing {

// A fresh directory under /tmp, removed with its files at the end of the test.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/parvane-pst-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace parvane::testing
