// UUCP lock files for serial devices, the convention by which programs on
// Linux (mgetty, minicom, cu, ...) keep off a line another one uses: the file
// LCK..<device> in the lock folder (/var/lock), the device named by its path
// under /dev with '_' for '/' (LCK..pts_0 for /dev/pts/0), holds the user's
// process id as ten ASCII characters and a line end. A port holder takes the
// lock before it opens the device and removes it when it closes it; a lock
// whose process has ended is stale and is removed by the next opener.
#pragma once

#include <memory>
#include <string>

#include "platform/base/wintypes.h"

// One lock file held by this process; removed when the object goes.
class DeviceLock {
public:
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    const std::string& Path() const { return m_path; }

    // Takes the lock of the device at devicePath (symbolic links followed, so
    // com/COM1 -> /dev/ttyUSB0 locks ttyUSB0). ERROR_SUCCESS with `lock` set
    // when the lock file was made; ERROR_SUCCESS with `lock` null when no
    // lock file can be made here (the folder is missing or not writable), so
    // the port is opened without one; ERROR_ACCESS_DENIED with `reason` set
    // when a live process holds the lock, this one included.
    static DWORD Acquire(const std::string& devicePath, std::unique_ptr<DeviceLock>& lock,
                         std::string& reason);

private:
    explicit DeviceLock(std::string path) : m_path(std::move(path)) {}

    std::string m_path;
};

// The folder lock files go to: /var/lock unless a test set another one ("" puts
// /var/lock back).
std::string CommLockFolder();
void SetCommLockFolderForTesting(const std::string& folder);
