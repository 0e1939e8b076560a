// UUCP lock files: reading a lock, telling a live holder from a stale one,
// and making and removing this process's own locks.
#include "platform/comm/comm_lock.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kDefaultFolder = "/var/lock";

std::mutex g_mutex;
std::string g_folder;          // empty: kDefaultFolder
std::set<std::string> g_held;  // lock files this process holds now
unsigned g_tempCounter = 0;

// Where the lock of a device lies: LCK.. and the name of the device the path
// finally names, as the other serial programs write it: its path under /dev
// with every '/' as '_' (/dev/ttyUSB0 gives LCK..ttyUSB0, /dev/pts/0 gives
// LCK..pts_0); a device outside /dev by its base name.
std::string LockPathFor(const std::string& devicePath)
{
    std::string real = devicePath;
    if (char* resolved = ::realpath(devicePath.c_str(), nullptr)) {
        real = resolved;
        std::free(resolved);
    }
    constexpr std::string_view kDevFolder = "/dev/";
    std::string name;
    if (real.starts_with(kDevFolder)) {
        name = real.substr(kDevFolder.size());
        std::replace(name.begin(), name.end(), '/', '_');
    } else {
        name = real.substr(real.find_last_of('/') + 1);  // npos + 1: the whole path
    }
    return CommLockFolder() + "/LCK.." + name;
}

struct LockFile {
    enum { Missing, Unreadable, Present } state = Missing;
    pid_t pid = 0;  // when present: the process it names, 0 for none
};

// What a lock file holds: a process id as ten ASCII characters in the usual
// form, or in the four-byte binary form of old programs.
LockFile ReadLockFile(const std::string& path)
{
    LockFile file;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        file.state = errno == ENOENT ? LockFile::Missing : LockFile::Unreadable;
        return file;
    }
    file.state = LockFile::Present;
    char buf[32] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n == 4) {
        int binary = 0;
        std::memcpy(&binary, buf, sizeof binary);
        file.pid = binary > 0 ? binary : 0;
    } else if (n > 0) {
        char* end = nullptr;
        const long pid = std::strtol(buf, &end, 10);
        file.pid = end != buf && pid > 0 && pid <= 0x7FFFFFFF ? static_cast<pid_t>(pid) : 0;
    }
    return file;
}

// Whether the lock's holder still runs. This process counts only for the
// locks it holds now: one left by an earlier process of the same id is stale.
bool HolderAlive(pid_t pid, const std::string& path)
{
    if (pid <= 0)
        return false;
    if (pid == ::getpid())
        return g_held.count(path) != 0;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

enum class Made { Yes, Exists, NotHere };

// Makes the lock file at once whole: written under a temporary name, then
// linked to its own name, which fails when another process got there first.
Made MakeLockFile(const std::string& path)
{
    const std::string temp =
        CommLockFolder() + "/LTMP." + std::to_string(::getpid()) + "." + std::to_string(g_tempCounter++);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return Made::NotHere;
    char text[16];
    const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = ::fchmod(fd, 0644) == 0 && ::write(fd, text, static_cast<size_t>(len)) == len;
    const bool closed = ::close(fd) == 0;
    Made made = Made::NotHere;
    if (written && closed)
        made = ::link(temp.c_str(), path.c_str()) == 0 ? Made::Yes
               : errno == EEXIST                       ? Made::Exists
                                                       : Made::NotHere;
    ::unlink(temp.c_str());
    return made;
}

}  // namespace

std::string CommLockFolder()
{
    return g_folder.empty() ? kDefaultFolder : g_folder;
}

void SetCommLockFolderForTesting(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_folder = folder;
}

DWORD DeviceLock::Acquire(const std::string& devicePath, std::unique_ptr<DeviceLock>& lock,
                          std::string& reason)
{
    lock.reset();
    std::lock_guard<std::mutex> guard(g_mutex);
    const std::string path = LockPathFor(devicePath);
    // A few rounds: a stale lock removed here may be taken by another opener
    // before this one makes its own.
    for (int round = 0; round < 3; ++round) {
        const LockFile file = ReadLockFile(path);
        if (file.state == LockFile::Unreadable) {
            reason = std::string(std::strerror(EBUSY)) + " (locked: " + path + " cannot be read)";
            return ERROR_ACCESS_DENIED;
        }
        if (file.state == LockFile::Present && HolderAlive(file.pid, path)) {
            reason = std::string(std::strerror(EBUSY)) + " (locked by process " + std::to_string(file.pid) +
                     " in " + path + ")";
            return ERROR_ACCESS_DENIED;
        }
        // A stale lock is removed; one that cannot be (another user's in a
        // folder with the sticky bit) binds nobody, and the port is opened
        // without a lock of its own.
        if (file.state == LockFile::Present && ::unlink(path.c_str()) != 0 && errno != ENOENT)
            return ERROR_SUCCESS;
        switch (MakeLockFile(path)) {
        case Made::Yes:
            g_held.insert(path);
            lock.reset(new DeviceLock(path));
            return ERROR_SUCCESS;
        case Made::NotHere: return ERROR_SUCCESS;
        case Made::Exists: break;  // another opener was quicker: look at its lock
        }
    }
    reason = std::string(std::strerror(EBUSY)) + " (" + path + " is taken again and again)";
    return ERROR_ACCESS_DENIED;
}

DeviceLock::~DeviceLock()
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_held.erase(m_path);
    // Only a lock that still names this process is removed: a lock that
    // another program took over after a cleanup stays its own.
    const LockFile file = ReadLockFile(m_path);
    if (file.state == LockFile::Present && file.pid == ::getpid())
        ::unlink(m_path.c_str());
}
