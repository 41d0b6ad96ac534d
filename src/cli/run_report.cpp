#include "cli/run_report.h"

#include <charconv>
#include <cstdio>

#include "engine/core/text.h"

namespace parvane::cli {

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
         ",\"outcome\":\"" + (file.converted ? "converted" : "refused") + "\",\"reason\":" +
         (file.converted ? "null" : JsonString(file.reason)) +
         ",\"size\":" + (file.size ? std::to_string(*file.size) : "null") + "}";
}

std::string SummaryLine(const RunSummary& summary) {
  std::string folders = "[";
  for (const auto& folder : summary.unreadableFolders) {
    folders += (folders.size() > 1 ? "," : "") + JsonString(folder);
  }
  // Whatever the locale, a point before the decimals.
  char seconds[32];
  const auto written = std::to_chars(seconds, seconds + sizeof seconds, summary.seconds,
                                     std::chars_format::fixed, 3);
  return "{\"summary\":true,\"store\":" + nullOr(summary.store) +
         ",\"listed\":" + std::to_string(summary.converted + summary.refused) +
         ",\"converted\":" + std::to_string(summary.converted) +
         ",\"refused\":" + std::to_string(summary.refused) +
         ",\"stopped\":" + (summary.stopped ? "true" : "false") +
         ",\"unreadable_folders\":" + folders + "]" + ",\"seconds\":" + std::string(seconds, written.ptr) +
         ",\"exit_status\":" + std::to_string(summary.exitStatus) + "}";
}

}  // namespace parvane::cli
