// The executable's path from /proc/self/exe (with a test override), the
// current directory from getcwd, and the folder part of a path.
#include "platform/base/module.h"

#include <cerrno>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

std::mutex g_overrideMutex;
std::string g_overridePath;  // empty: no override

// readlink does not say whether the buffer was large enough, so the buffer
// grows until the link text fits with room to spare.
std::string ReadLinkText(const char* link)
{
    std::vector<char> buf(256);
    for (;;) {
        const ssize_t n = readlink(link, buf.data(), buf.size());
        if (n < 0)
            return {};
        if (static_cast<size_t>(n) < buf.size())
            return std::string(buf.data(), static_cast<size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

std::string GetModuleFileNameA()
{
    {
        std::lock_guard<std::mutex> lock(g_overrideMutex);
        if (!g_overridePath.empty())
            return g_overridePath;
    }
    return ReadLinkText("/proc/self/exe");
}

std::string GetModuleFileTitle()
{
    std::string name = GetModuleFileNameA();
    name = name.substr(name.find_last_of('/') + 1);
    const std::string::size_type dot = name.find_last_of('.');
    return dot != std::string::npos && dot > 0 ? name.substr(0, dot) : name;
}

void SetModuleFileNameForTesting(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_overrideMutex);
    g_overridePath = path;
}

std::string GetCurrentDirectoryA()
{
    std::vector<char> buf(256);
    for (;;) {
        if (getcwd(buf.data(), buf.size()) != nullptr)
            return std::string(buf.data());
        if (errno != ERANGE)
            return {};
        buf.resize(buf.size() * 2);
    }
}

std::string GetDirectoryPart(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return path.substr(0, slash);
}
