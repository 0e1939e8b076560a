// The configuration file korvo.ini: the escapes that keep texts with line
// breaks on one line of the file, and the integer write. Loading and saving
// are CSkiffaDlg::LoadSettings and CSkiffaDlg::SaveSettings (relay/Config.cpp).
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

// Writes value as "%d" text into the key; whether the write succeeded is not
// reported.
void WritePrivateProfileInt(const std::string& section, const std::string& key, int value,
                            const std::string& file);
