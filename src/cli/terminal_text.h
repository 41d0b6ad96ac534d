// Text from outside (file and folder names, reasons that quote them) made safe
// to print on a terminal: nothing in it can start a new line, move the cursor
// or reach the terminal as an escape sequence, and every byte stays visible.
#pragma once

#include <string>
#include <string_view>

namespace parvane::cli {

// `text` with control characters and broken UTF-8 spelled out:
// - newline, carriage return and tab as \n, \r, \t; other C0 controls and DEL
//   as \xHH ("\x1b");
// - the C1 controls (U+0080..U+009F, which some terminals obey as escapes), the
//   line and paragraph separators and the bidirectional overrides as \uHHHH;
// - each byte of broken UTF-8 as \xHH ("\xff");
// - on POSIX, where a backslash is a plain name character, a backslash as \\,
//   so that an escape printed can be told from the same text in a name.
// Well-formed printable text, however far beyond ASCII, is kept as it is.
std::string TerminalSafe(std::string_view text);

}  // namespace parvane::cli
