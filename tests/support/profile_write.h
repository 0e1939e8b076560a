// One key written to a profile file on its own, for tests that build or
// change an INI file key by key.
#pragma once

#include <string>

#include "platform/system/profile.h"

// Writes the one key through a ProfileWriter and commits it: TRUE when the
// write was taken and the file replaced (or left as it was, unchanged).
BOOL WritePrivateProfileStringA(const std::string& section, const std::string& key, const std::string& text,
                                const std::string& file);
