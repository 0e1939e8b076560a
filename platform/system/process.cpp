// Process snapshot over /proc.
#include "platform/system/process.h"

#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

// The parent id from /proc/<pid>/stat: the field after the state, which
// follows the last ')' (the command name may itself hold parentheses).
bool ReadParent(const std::string& pid, DWORD& parent, std::string& comm)
{
    std::ifstream in("/proc/" + pid + "/stat");
    std::string stat;
    if (!std::getline(in, stat))
        return false;
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    comm = stat.substr(open + 1, close - open - 1);
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    long ppid = 0;
    if (!(rest >> state >> ppid))
        return false;
    parent = static_cast<DWORD>(ppid);
    return true;
}

// The executable's base name, or the short command name when the link cannot
// be read (another user's process, a kernel thread).
std::string ExeName(const std::string& pid, const std::string& comm)
{
    char buf[4096];
    const ssize_t n = readlink(("/proc/" + pid + "/exe").c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return comm;
    std::string path(buf, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<PROCESSENTRY32> CreateProcessSnapshot()
{
    std::vector<PROCESSENTRY32> entries;
    DIR* dir = opendir("/proc");
    if (dir == nullptr)
        return entries;
    while (const dirent* de = readdir(dir)) {
        const std::string pid = de->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        DWORD parent = 0;
        std::string comm;
        if (!ReadParent(pid, parent, comm))
            continue;
        PROCESSENTRY32 e{};
        e.th32ProcessID = static_cast<DWORD>(std::stoul(pid));
        e.th32ParentProcessID = parent;
        const std::string name = ExeName(pid, comm);
        std::strncpy(e.szExeFile, name.c_str(), sizeof e.szExeFile - 1);
        entries.push_back(e);
    }
    closedir(dir);
    return entries;
}

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}
