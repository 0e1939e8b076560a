// Appending to a file, and the once-per-file stderr line of a file that
// cannot be written.
#include "platform/base/filereport.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <unistd.h>

#include "platform/base/eintr.h"
#include "platform/base/module.h"
#include "platform/base/stderrline.h"

namespace {

std::mutex g_mutex;
std::set<std::string> g_failing;  // files whose failure was reported, by full path

std::string FullPath(const std::string& path)
{
    if (path.empty() || path.front() == '/')
        return path;
    const std::string cwd = GetCurrentDirectoryA();
    return cwd.empty() ? path : cwd + (cwd.back() == '/' ? "" : "/") + path;
}

void WriteLine(const std::string& text, const std::string& file, int error)
{
    WriteStderrLine(text + " [" + file + ": " + std::strerror(error) + "]");
}

}  // namespace

bool AppendToFile(const std::string& path, std::string_view bytes, NewFileAccess access)
{
    const mode_t mode = access == NewFileAccess::OwnerOnly ? 0600 : 0666;
    const int fd = Retry(
        [&] { return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, mode); });
    bool ok = fd >= 0 && WriteWholeRetrying(fd, bytes);
    int error = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        error = errno;  // a delayed write error (NFS, a full disk) shows only here
    }
    if (ok)
        ReportFileWritten(path);
    else
        ReportFileWriteFailed(path, error);
    return ok;
}

void ReportFileWriteFailed(const std::string& path, int error)
{
    const std::string full = FullPath(path);
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_failing.insert(full).second)
        WriteLine("cannot write the file", full, error);
}

void ReportFileWritten(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_failing.empty())  // the usual case costs no look at the current directory
        g_failing.erase(FullPath(path));
}

void ReportFileRewrittenInPlace(const std::string& path, int error)
{
    const std::string full = FullPath(path);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_failing.erase(full);
    WriteLine("no new file can be made in its folder, so it was rewritten in place", full, error);
}
