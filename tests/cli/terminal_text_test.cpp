// Text printed on a terminal: what could act on it or forge a line is spelled
// out, everything else is left as it is.
#include "cli/terminal_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace parvane::cli {
namespace {

using namespace std::string_literals;

TEST(TerminalSafe, ControlCharactersAreSpelledOut) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\nb", "a\\nb"},
      {"a\rb\tc", "a\\rb\\tc"},
      {"\x1b[31mred", "\\x1b[31mred"},
      {"nul\0here"s, "nul\\x00here"},
      {"bell\a del\x7f", "bell\\x07 del\\x7f"},
      {"\xc2\x9b" "2J", "\\u009b2J"},                // C1 CSI, obeyed by some terminals
      {"\xe2\x80\xae" "gpj.msg", "\\u202egpj.msg"},  // right-to-left override
      {"line\xe2\x80\xa8" "sep", "line\\u2028sep"},
  };
  for (const auto& [raw, printed] : cases) EXPECT_EQ(TerminalSafe(raw), printed) << printed;
}

TEST(TerminalSafe, BrokenUtf8IsShownByteByByte) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\xff" "b", "a\\xffb"},
      {"\xc3", "\\xc3"},                        // cut short at the end
      {"\xc3(", "\\xc3("},                      // a lead byte without its continuation
      {"\xc0\xaf", "\\xc0\\xaf"},               // overlong "/"
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},      // an encoded surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
      {"\x80", "\\x80"},                        // a stray continuation byte
  };
  for (const auto& [raw, printed] : cases) EXPECT_EQ(TerminalSafe(raw), printed) << printed;
}

TEST(TerminalSafe, PrintableTextIsKept) {
  const std::vector<std::string> texts = {
      "/srv/ana/Mail/Subject.msg", "C:\\Mail\\x.msg",
      "\xce\xa9mega \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\xa7.msg", ""};
  for (const std::string& text : texts) {
#ifndef _WIN32
    if (text.find('\\') != std::string::npos) continue;
#endif
    EXPECT_EQ(TerminalSafe(text), text);
  }
#ifndef _WIN32
  // A backslash is doubled, so that a name spelling "\n" is told from a newline.
  EXPECT_EQ(TerminalSafe("a\\nb"), "a\\\\nb");
#endif
}

}  // namespace
}  // namespace parvane::cli
