// Start-up helpers of the main dialog that need no window: the parent-process
// test, the list's column widths and the version text.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/system/process.h"

// True when the parent of `ownPid` in the snapshot has an executable file name
// holding the letters S, E, X, E next to each other, in any case.
bool IsServiceHostParent(const std::vector<PROCESSENTRY32>& snapshot, DWORD ownPid);

// The four column widths for a list whose usable width is w pixels.
std::array<int, 4> ColumnWidths(int usableWidth);

// "Version a.b.c.d" from the product version; empty when there is none.
std::string GetVersionString();
