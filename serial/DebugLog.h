// The debug trace: one line per relay event appended to "debug.log" in the
// current directory.
#pragma once

#include <string>

// Appends "hh:mm:ss.mmm,<tag>,<data>" and a line end to debug.log in the
// current directory, creating the file when it is missing, for its owner
// alone (0600). Data bytes below 0x20 appear as "(%02x)", every other byte as
// itself, so the line end is the only one in the line. `data` may be null
// when `len` is 0 (or less, which counts as 0). A line that cannot be written
// is dropped; stderr names the file once until it can be written again
// (platform/base/filereport.h).
void WriteDebugLog(const std::string& tag, const void* data, int len);
