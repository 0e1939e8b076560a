// The debug trace file: each call opens debug.log, appends one whole line and
// closes it again, so the line is complete in the file when the call returns.
#include "serial/DebugLog.h"

#include <cstdio>

#include "platform/base/clock.h"
#include "platform/base/filereport.h"

namespace {

constexpr const char* kTraceFile = "debug.log";

void AppendData(std::string& line, const unsigned char* data, int len)
{
    for (int i = 0; i < len; ++i) {
        const unsigned char byte = data[i];
        if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "(%02x)", byte);
            line += escaped;
        } else {
            line += static_cast<char>(byte);
        }
    }
}

}  // namespace

void WriteDebugLog(const std::string& tag, const void* data, int len)
{
    SYSTEMTIME now{};
    GetLocalTime(&now);

    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d,", now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds);
    std::string line = stamp;
    line += tag;
    line += ',';
    if (data != nullptr && len > 0)
        AppendData(line, static_cast<const unsigned char*>(data), len);
    line += '\n';

    // The whole line goes out in a single write. A write that fails (a full
    // disk, a folder not writable for this user) loses the line, or the part
    // of it that did not fit; nothing is retried. Its file is named on stderr.
    // The trace holds every byte callers type, passwords too: a new one is
    // its owner's alone.
    (void)AppendToFile(kTraceFile, line, NewFileAccess::OwnerOnly);
}
