// File names and other outside text made safe to show: in orvel-cli's result
// lines, progress line and messages on a terminal, and in the window's lists.
//
// A file name may hold any byte but "/" and NUL. Printed raw, a line feed in a
// name forges a line of output (a fake "Zusammenfassung"), an ESC starts a
// terminal escape sequence, and bytes that are not UTF-8 reach the terminal or
// the list as garbage. EscapeForDisplay keeps every ordinary name exactly as
// it is and writes only the dangerous characters as visible escapes.
//
// Neighbours: result_line.cpp and live_status.cpp use it for the names they
// put into lines; cli/ for the messages that quote arguments; ui/ for the
// image and results lists.
#pragma once

#include <string>
#include <string_view>

// The text with
//   - line feed, carriage return and tab as "\n", "\r", "\t";
//   - every other C0 control character and DEL as "\x1b" style (two lower-case
//     hex digits);
//   - the C1 controls U+0080..U+009F, the line and paragraph separators
//     U+2028/U+2029 and the bidirectional embedding, override and isolate
//     controls (U+202A..U+202E, U+2066..U+2069) as "\u009b" style;
//   - each byte that is not part of valid UTF-8 as U+FFFD.
// Everything else, backslashes included, stays as it is.
std::string EscapeForDisplay(std::string_view text);
