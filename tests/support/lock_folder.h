// Test runs keep the serial ports' lock files in a folder of the tests' own,
// shared by every test process as /var/lock is by every program, rather than
// in the machine's /var/lock.
#pragma once

#include <filesystem>

#include "platform/comm/comm_lock.h"

namespace scratch {

inline const std::filesystem::path kTestLockFolder =
    std::filesystem::temp_directory_path() / "skiffa-test-locks";

inline void UseTestLockFolder()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(kTestLockFolder, ec);
    fs::permissions(kTestLockFolder, fs::perms::all | fs::perms::sticky_bit, ec);
    SetCommLockFolderForTesting(kTestLockFolder.string());
}

}  // namespace scratch
