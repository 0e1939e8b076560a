// String-table access in the program's code page.
#include "resources/ResString.h"

#include "platform/system/cp932.h"
#include "resources/strings.h"

std::string LoadResString(unsigned id)
{
    const char* utf8 = FindStringResourceUtf8(id);
    return utf8 != nullptr ? cp932::FromUtf8(utf8) : std::string();
}
