#include "conversion/run_report.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <exception>

#include "conversion/failure_report.h"
#include "conversion/relative_folder.h"
#include "engine/core/text.h"

namespace parvane::conversion {

namespace {

// Broken UTF-8 follows the one rule of the text helpers: each broken part is one U+FFFD.
std::string wellFormed(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const core::Utf8Char c = core::readUtf8Char(text, at);
    if (c.wellFormed) {
      out.append(text.substr(at, c.length));
    } else {
      core::appendUtf8(out, core::kReplacementCharacter);
    }
    at += c.length;
  }
  return out;
}

std::string nullOr(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

std::string jsonList(const std::vector<std::string>& texts) {
  std::string list = "[";
  for (const auto& text : texts) list += (list.size() > 1 ? "," : "") + JsonString(text);
  return list + "]";
}

}  // namespace

std::string JsonString(std::string_view utf8) {
  const std::string text = wellFormed(utf8);
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string ReportLine(const FileOutcome& file) {
  return "{\"path\":" + JsonString(file.path) + ",\"folder\":" + nullOr(file.folder) +
         ",\"store\":" + nullOr(file.store) + ",\"outcome\":\"" + (file.converted ? "converted" : "refused") + "\",\"reason\":" +
         (file.converted ? "null" : JsonString(file.reason)) +
         ",\"size\":" + (file.size ? std::to_string(*file.size) : "null") + "}";
}

std::string SummaryLine(const RunSummary& summary) {
  // Whatever the locale, a point before the decimals.
  char seconds[32];
  const auto written = std::to_chars(seconds, seconds + sizeof seconds, summary.seconds,
                                     std::chars_format::fixed, 3);
  return "{\"summary\":true,\"store\":" + nullOr(summary.store) +
         ",\"stores\":" + jsonList(summary.stores) +
         ",\"listed\":" + std::to_string(summary.converted + summary.refused) +
         ",\"converted\":" + std::to_string(summary.converted) +
         ",\"refused\":" + std::to_string(summary.refused) +
         ",\"stopped\":" + (summary.stopped ? "true" : "false") +
         ",\"store_failure\":" + nullOr(summary.storeFailure) +
         ",\"unreadable_folders\":" + jsonList(summary.unreadableFolders) +
         ",\"skipped_links\":" + jsonList(summary.skippedLinks) +
         ",\"seconds\":" + std::string(seconds, written.ptr) + ",\"exit_status\":" +
         (summary.exitStatus ? std::to_string(*summary.exitStatus) : "null") + "}";
}

std::string FailureReason(const ImportError& failure, const RunResult& result) {
  if (failure.cause.cause == StoreFailure::StoreFailed) {
    return "the store failed: " + (result.storeFailure ? result.storeFailure->detail : failure.cause.detail);
  }
  // The line names the file first; the reason is what follows.
  std::string reason = FailureLine(failure);
  const std::string named = "Cannot import \"" + failure.path + "\": ";
  if (reason.rfind(named, 0) == 0) reason.erase(0, named.size());
  return reason;
}

std::vector<FileOutcome> RunOutcomes(const ConversionRequest& request, const RunResult& result,
                                     const FileSize& sizeOf) {
  const bool ran = result.stage == RunResult::Stage::Completed;
  // The run takes the files in order and only a stop ends it early: it tried
  // as many as it converted or failed. (A failed store names every file it
  // does not hold among the failures.)
  const std::size_t tried = ran ? result.converted + result.failures.size() : 0;
  std::vector<FileOutcome> files;
  files.reserve(request.files.size());
  auto failure = result.failures.begin();
  auto store = result.stores.begin();
  std::size_t inStore = 0;  // the converted files given to `store` so far
  for (std::size_t i = 0; i < request.files.size(); ++i) {
    FileOutcome file;
    const std::string row = request.files.path(i);
    file.path = TrimBlanks(row);
    try {
      file.folder = request.pathRules.relativeFolder(row);
    } catch (const std::exception&) {
    }
    if (sizeOf) file.size = sizeOf(file.path);
    while (failure != result.failures.end() && failure->index < i) ++failure;
    if (!ran) {
      file.reason = result.preparation ? PreparationCause(*result.preparation) : kLeftOutReason;
    } else if (failure != result.failures.end() && failure->index == i) {
      file.reason = FailureReason(*failure, result);
    } else if (i >= tried) {
      file.reason = kLeftOutReason;
    } else {
      file.converted = true;
      while (store != result.stores.end() && inStore >= store->messages) {
        ++store;
        inStore = 0;
      }
      if (store != result.stores.end()) {
        file.store = store->path;
        ++inStore;
      }
    }
    files.push_back(std::move(file));
  }
  return files;
}

RunSummary SummaryOf(const RunResult& result, const std::vector<FileOutcome>& files) {
  RunSummary summary;
  const bool created = result.stage == RunResult::Stage::Completed ||
                       (result.preparation &&
                        result.preparation->cause != PreparationFailure::StoreNotCreated);
  if (created) summary.store = result.storeFilePath;
  for (const auto& store : result.stores) summary.stores.push_back(store.path);
  summary.converted = static_cast<std::size_t>(
      std::count_if(files.begin(), files.end(), [](const FileOutcome& f) { return f.converted; }));
  summary.refused = files.size() - summary.converted;
  summary.stopped = result.stopped;
  if (result.storeFailure) summary.storeFailure = result.storeFailure->detail;
  return summary;
}

void WriteReport(std::ostream& out, const std::vector<FileOutcome>& files, const RunSummary& summary) {
  for (const auto& file : files) out << ReportLine(file) << '\n';
  out << SummaryLine(summary) << '\n';
}

}  // namespace parvane::conversion
