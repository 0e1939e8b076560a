// Prefixed lines on stderr.
#include "platform/base/stderrline.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex;

}  // namespace

void WriteStderrLine(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + kStderrPrefix.size() + 1);
    for (;;) {
        const size_t end = text.find('\n');
        out.append(kStderrPrefix).append(text.substr(0, end)).push_back('\n');
        if (end == std::string_view::npos || end + 1 == text.size())
            break;
        text.remove_prefix(end + 1);
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}
