#include "cli/run_report.h"

#include <charconv>
#include <cstdio>

#include "engine/core/codepage.h"

namespace parvane::cli {

namespace {

// Well-formed UTF-8 as it is; anything else through the decoder, which puts
// U+FFFD for what it cannot read.
std::string wellFormed(std::string_view text) {
  const core::ByteView bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  std::string decoded = core::toUtf8(core::decodeUtf8(bytes));
  return decoded == text ? std::string(text) : decoded;
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
