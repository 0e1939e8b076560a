// Parent-process test, column layout and version text.
#include "maindlg/Startup.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "resources/version.h"

namespace {

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Byte-wise search for SEXE in a NUL-terminated name; never reads past the NUL.
bool HoldsSexe(const char* name)
{
    static const char kWord[] = "SEXE";
    for (int i = 0; name[i] != '\0'; ++i) {
        int k = 0;
        while (k < 4 && AsciiUpper(name[i + k]) == kWord[k])
            ++k;
        if (k == 4)
            return true;
    }
    return false;
}

}  // namespace

bool IsServiceHostParent(const std::vector<PROCESSENTRY32>& snapshot, DWORD ownPid)
{
    constexpr DWORD kNone = 0xFFFFFFFFu;
    DWORD parent = kNone;
    for (const PROCESSENTRY32& e : snapshot) {
        if (e.th32ProcessID == ownPid)
            parent = e.th32ParentProcessID;
    }
    if (parent == kNone)
        return false;
    for (const PROCESSENTRY32& e : snapshot) {
        if (e.th32ProcessID != parent)
            continue;
        // The name is bounded by its array even if a snapshot left no NUL.
        char name[sizeof e.szExeFile + 1] = {};
        std::copy(std::begin(e.szExeFile), std::end(e.szExeFile), name);
        return name[0] != '\0' && HoldsSexe(name);
    }
    return false;
}

std::array<int, 4> ColumnWidths(int usableWidth)
{
    const double unit = usableWidth / 100.0;
    const int state = static_cast<int>(unit * 15.0);
    return {static_cast<int>(unit * 10.0), static_cast<int>(unit * 60.0), state, state};
}

std::string GetVersionString()
{
    const VersionBlock* v = GetVersionBlock();
    if (v == nullptr)
        return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "Version %d.%d.%d.%d", v->product[0], v->product[1], v->product[2],
                  v->product[3]);
    return buf;
}
