// The escapes that keep the free texts of korvo.ini, line breaks and all, on
// one line of the file.
#pragma once

#include <string>

// The text with every CR replaced by backslash-r, then every LF by
// backslash-n, then every TAB by backslash-t. The backslash itself is left
// as it is.
std::string EscapeControlChars(const std::string& text);

// The text with every backslash-r replaced by CR, then every backslash-n by
// LF, then every backslash-t by TAB. A match starts only at a character
// boundary of the code page, so the second byte of a double-byte character
// (many end in 0x5C) is never taken for a backslash.
std::string UnescapeControlChars(const std::string& text);
