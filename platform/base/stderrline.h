// The program's lines on stderr. Each one starts with the same prefix, so
// that one grep of a terminal's output or a service's journal finds them all.
#pragma once

#include <string_view>

// What every line starts with.
inline constexpr std::string_view kStderrPrefix = "skiffa: ";

// Writes kStderrPrefix, `text` and a line end to stderr at once, and flushes
// it. A text of several lines gets the prefix before each of them. Lines of
// several threads never mix.
void WriteStderrLine(std::string_view text);
