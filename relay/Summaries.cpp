// Texts the port list shows for a line: its settings and its caller's address.
#include "relay/Summaries.h"

#include <cstdio>
#include <cstring>

#include "resources/ResString.h"
#include "resources/resource.h"

namespace {

// A text of the string table picked by a setting's value, or the bare number
// when the value lies outside the texts the table has for it.
std::string OptionText(unsigned firstId, int value, int lowest, int highest)
{
    if (value < lowest || value > highest)
        return std::to_string(value);
    return LoadResString(firstId + static_cast<unsigned>(value));
}

const char* ParityLetter(int parity)
{
    switch (parity) {
    case NOPARITY: return "N";
    case ODDPARITY: return "O";
    case EVENPARITY: return "E";
    default: return "?";
    }
}

}  // namespace

std::string PortSettingsSummary(const CPortInfo& port)
{
    std::string ring = LoadResString(IDS_RING_NONE);
    if (port.m_nRing != 0) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "%s(%dms)", OptionText(IDS_RING_NONE, port.m_nRing, 1, 3).c_str(),
                      port.m_nRingInterval);
        ring = buf;
    }
    const std::string connect = OptionText(IDS_CONNECT_FIRST, port.m_nConnect, 0, 2);
    const std::string dsr = LoadResString(port.m_bDsr == 0 ? IDS_DSR_KEEP : IDS_DSR_CUT);
    char buf[512];
    std::snprintf(buf, sizeof buf, "%dbps,%d%d%s,Ring%s,Connect %s(%dms),DSR OFF %s", port.m_nSpeed,
                  port.m_nData, port.m_nStop, ParityLetter(port.m_nParity), ring.c_str(), connect.c_str(),
                  port.m_nConnectInterval, dsr.c_str());
    return buf;
}

std::string IpToString(DWORD address)
{
    unsigned char b[4];
    std::memcpy(b, &address, sizeof b);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return buf;
}
