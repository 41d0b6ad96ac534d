// The run's report for --report FILE, in JSON Lines: one object per listed
// file, in list order, then one summary object. Text is UTF-8; each broken
// part of a name that is not well-formed UTF-8 (a file name on POSIX may hold
// any bytes) is written as U+FFFD, as the text helpers decode it.
//
//   {"path":"/m/Work/a.msg","folder":"m\\Work","outcome":"converted","reason":null,"size":20480}
//   {"path":"/m/b.msg","folder":"m","outcome":"refused","reason":"not a compound file: ...","size":12}
//   {"summary":true,"store":"/out/x.pst","listed":2,"converted":1,"refused":1,
//    "stopped":false,"unreadable_folders":[],"seconds":0.412,"exit_status":1}
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parvane::cli {

struct FileOutcome {
  std::string path;
  std::string folder;  // the store folder, with the store's "\" separator; empty when none
  bool converted = false;
  std::string reason;                 // why it was refused
  std::optional<std::uint64_t> size;  // the message file's size in bytes, when it can be read
};

struct RunSummary {
  std::string store;  // the store file; empty when none was written
  std::size_t converted = 0;
  std::size_t refused = 0;
  bool stopped = false;  // a signal cut the run short
  std::vector<std::string> unreadableFolders;
  double seconds = 0;  // from the command line read to the store closed
  int exitStatus = 0;
};

// A JSON string: quoted, with quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view utf8);

std::string ReportLine(const FileOutcome& file);
std::string SummaryLine(const RunSummary& summary);

}  // namespace parvane::cli
