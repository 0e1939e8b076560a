// The framework's string loading and formatting.
#include "platform/windows/afxstrings.h"

#include <atomic>

#include "platform/system/cp932.h"

namespace {

std::atomic<StringTableLookup> g_table{nullptr};

}  // namespace

void AfxSetStringTable(StringTableLookup lookup)
{
    g_table.store(lookup);
}

std::string AfxLoadString(unsigned id)
{
    const StringTableLookup lookup = g_table.load();
    const char* utf8 = lookup != nullptr ? lookup(id) : nullptr;
    return utf8 != nullptr ? cp932::FromUtf8(utf8) : std::string();
}

std::string AfxFormatString1(unsigned id, const std::string& s1)
{
    return AfxFormatString2(id, s1, "%2");  // "%2" stands for itself
}

std::string AfxFormatString2(unsigned id, const std::string& s1, const std::string& s2)
{
    const std::string format = AfxLoadString(id);
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (cp932::IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < format.size()) {
            out += format.substr(i++, 2);
        } else if (c == '%' && i + 1 < format.size() && (format[i + 1] == '1' || format[i + 1] == '2')) {
            out += format[++i] == '1' ? s1 : s2;
        } else {
            out += c;
        }
    }
    return out;
}
