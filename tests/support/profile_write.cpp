#include "support/profile_write.h"

BOOL WritePrivateProfileStringA(const std::string& section, const std::string& key, const std::string& text,
                                const std::string& file)
{
    ProfileWriter writer(file);
    return writer.WriteString(section, key, text) && writer.Commit() ? TRUE : FALSE;
}
