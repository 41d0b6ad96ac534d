// The run's report, in JSON Lines: one object per listed file, in list order,
// then one summary object. parvane-cli writes it for --report FILE and the
// window saves it after a run. Text is UTF-8; each broken part of a name that
// is not well-formed UTF-8 (a file name on POSIX may hold any bytes) is
// written as U+FFFD, as the text helpers decode it.
//
//   {"path":"/m/Work/a.msg","folder":"m\\Work","store":"/out/x.pst","outcome":"converted","reason":null,"size":20480}
//   {"path":"/m/b.msg","folder":"m","store":null,"outcome":"refused","reason":"not a compound file: ...","size":12}
//   {"summary":true,"store":"/out/x.pst","stores":["/out/x.pst"],"listed":2,"converted":1,"refused":1,
//    "stopped":false,"store_failure":null,"unreadable_folders":[],"skipped_links":[],"seconds":0.412,"exit_status":1}
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/convert.h"

namespace parvane::conversion {

struct FileOutcome {
  std::string path;
  std::string folder;  // the store folder, with the store's "\" separator; empty when none
  bool converted = false;
  std::string reason;                 // why it was refused
  std::optional<std::uint64_t> size;  // the message file's size in bytes, when it can be read
  std::string store;  // the store file that holds its message; empty when none does
};

struct RunSummary {
  std::string store;  // the (first) store file; empty when none was written
  std::vector<std::string> stores;  // every store file written, in order (a size limit makes several)
  std::size_t converted = 0;
  std::size_t refused = 0;
  bool stopped = false;  // the run was stopped before every file was tried
  std::string storeFailure;  // why the store itself failed mid-run; empty when it did not
  std::vector<std::string> unreadableFolders;
  std::vector<std::string> skippedLinks;  // links the folder walks did not follow
  double seconds = 0;  // from the start of the command or run to the store closed
  std::optional<int> exitStatus;  // the command's; none for a window's run
};

// A JSON string: quoted, with quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view utf8);

std::string ReportLine(const FileOutcome& file);
std::string SummaryLine(const RunSummary& summary);

// The reason a file was not converted, without the file's name.
std::string FailureReason(const ImportError& failure, const RunResult& result);
inline constexpr const char* kLeftOutReason = "left out: the run was stopped";

// A message file's size in bytes, or none when it is not a regular file that can be read.
using FileSize = std::function<std::optional<std::uint64_t>(const std::string& path)>;

// The outcome of each of the request's files in the run that gave `result`,
// in list order. Converted are the files the store holds at the end: those
// imported and not among the failures, in the part of the list the run
// reached (a stopped run tries a first part of the list and leaves the rest).
// They fill the run's stores in order, each with as many as it holds.
std::vector<FileOutcome> RunOutcomes(const ConversionRequest& request, const RunResult& result,
                                     const FileSize& sizeOf);

// The summary's store and counts for `files`; the rest is the caller's.
RunSummary SummaryOf(const RunResult& result, const std::vector<FileOutcome>& files);

// Every file's line, then the summary's.
void WriteReport(std::ostream& out, const std::vector<FileOutcome>& files, const RunSummary& summary);

}  // namespace parvane::conversion
