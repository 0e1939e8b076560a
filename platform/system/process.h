// A snapshot of the system's processes: id, parent id and executable file name.
#pragma once

#include <string>
#include <vector>

#include "platform/base/wintypes.h"

struct PROCESSENTRY32 {
    DWORD th32ProcessID;
    DWORD th32ParentProcessID;
    char szExeFile[260];  // file name without folder, NUL-terminated
};

// The processes running now; empty when /proc cannot be read.
std::vector<PROCESSENTRY32> CreateProcessSnapshot();

DWORD GetCurrentProcessId();
