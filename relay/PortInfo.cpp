// Port record defaults and line-state texts.
#include "relay/PortInfo.h"

#include "resources/resource.h"
#include "resources/ResString.h"

CPortInfo CPortInfo::FromSectionDefaults(const std::string& name)
{
    CPortInfo info;  // member initialisers hold the section defaults and idle values
    info.m_strName = name;
    return info;
}

CPortInfo CPortInfo::FromNewPortDefaults(const std::string& name)
{
    CPortInfo info = FromSectionDefaults(name);
    info.m_nParity = NOPARITY;
    info.m_nConnectInterval = 0;
    return info;
}

std::string LineStateText(int state)
{
    if (state < LINE_IDLE || state > LINE_OPEN_ERROR)
        return {};
    return LoadResString(IDS_STATE_FIRST + static_cast<unsigned>(state));
}
