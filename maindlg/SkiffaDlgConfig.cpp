// Loading and saving the settings in korvo.ini: the port sections COM1,
// COM2, ... up to the first without a NAME, and the general sections SERVER,
// TIME, TEXT, LOG, DEBUG and ALL.
#include "relay/TextEscapes.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/cp932.h"
#include "platform/profile.h"
#include "resources/resource.h"
#include "resources/ResString.h"
#include "maindlg/SkiffaDlg.h"

namespace {

// NAME and DIR are read through a buffer of this size: at most 259 bytes.
constexpr DWORD kShortTextBuffer = 260;

std::string PortSection(int n)
{
    char section[32];
    std::snprintf(section, sizeof section, "%s%d", "COM", n);
    return section;
}

// A limit in seconds counted in 500 ms ticks. A value from a hand-edited file
// can be as large as an int holds; the count stops at the int's range.
int SecondsToTicks(int seconds)
{
    const long long ticks = 1000LL / TICK_MS * seconds;
    if (ticks > INT_MAX)
        return INT_MAX;
    if (ticks < INT_MIN)
        return INT_MIN;
    return static_cast<int>(ticks);
}

// Copies a hang-up string into its member: at most CMD_BUFFER_SIZE - 1 bytes
// and the zero, cut before a double-byte character that would not fit whole.
void CopyHangUpString(char (&member)[CMD_BUFFER_SIZE], const std::string& text)
{
    size_t length = 0;
    while (length < text.size()) {
        const size_t next = length + cp932::CharLength(text, length);
        if (next > CMD_BUFFER_SIZE - 1)
            break;
        length = next;
    }
    std::memcpy(member, text.data(), length);
    member[length] = '\0';
}

std::string HangUpString(const char (&member)[CMD_BUFFER_SIZE])
{
    return std::string(member, strnlen(member, CMD_BUFFER_SIZE));
}

std::string ReadShortText(const std::string& section, const std::string& key, const std::string& file)
{
    char buffer[kShortTextBuffer];
    GetPrivateProfileStringA(section, key, "", buffer, sizeof buffer, file);
    return buffer;
}

// A TEXT value, read whole (the writer stores it whole) and unescaped.
std::string ReadText(const std::string& key, const std::string& def, const std::string& file)
{
    return UnescapeControlChars(GetPrivateProfileStringWhole("TEXT", key, def, file));
}

}  // namespace

void CSkiffaDlg::LoadSettings()
{
    const std::string& file = m_strIniFile;

    // Port sections up to the first without a NAME. The relay serves at most
    // MAX_LINES lines, so sections past that many are not read; they stay in
    // the file as they are.
    for (int n = 1; n <= MAX_LINES; ++n) {
        const std::string section = PortSection(n);
        const std::string name = ReadShortText(section, "NAME", file);
        if (name.empty())
            break;
        CPortInfo port = CPortInfo::FromSectionDefaults(name);
        port.m_nSpeed = GetPrivateProfileIntA(section, "SPEED", port.m_nSpeed, file);
        port.m_nData = GetPrivateProfileIntA(section, "DATA", port.m_nData, file);
        port.m_nStop = GetPrivateProfileIntA(section, "STOP", port.m_nStop, file);
        port.m_nParity = GetPrivateProfileIntA(section, "PARITY", port.m_nParity, file);
        port.m_nRing = GetPrivateProfileIntA(section, "RING", port.m_nRing, file);
        port.m_nRingInterval = GetPrivateProfileIntA(section, "INTERVAL", port.m_nRingInterval, file);
        port.m_nConnectInterval =
            GetPrivateProfileIntA(section, "CONNECT_INTERVAL", port.m_nConnectInterval, file);
        port.m_nConnect = GetPrivateProfileIntA(section, "CONNECT", port.m_nConnect, file);
        port.m_bDsr = GetPrivateProfileIntA(section, "DSR", port.m_bDsr, file);
        m_aPort.push_back(port);
    }

    m_nPort = GetPrivateProfileIntA("SERVER", "PORT", 23, file);

    m_nNoCommTime = GetPrivateProfileIntA("TIME", "NO_COMM", 0, file);
    m_nNoCommCount = SecondsToTicks(m_nNoCommTime);
    m_nLimitTime = GetPrivateProfileIntA("TIME", "LIMIT", 0, file);
    m_nLimitCount = SecondsToTicks(m_nLimitTime);
    m_nKeepTime = GetPrivateProfileIntA("TIME", "KEEP", 10, file);

    CopyHangUpString(m_szCheck1, ReadText("CHECK1", "", file));
    CopyHangUpString(m_szCheck2, ReadText("CHECK2", "", file));
    m_strAfter = ReadText("AFTER", "", file);
    m_strFull = ReadText("FULL", LoadResString(IDS_FULL_TEXT), file);

    m_bLog = GetPrivateProfileIntA("LOG", "ENABLE", 0, file);
    m_strLogDir = ReadShortText("LOG", "DIR", file);  // a folder: never unescaped

    m_bDebugLog = GetPrivateProfileIntA("DEBUG", "ENABLE", 0, file);
}

void CSkiffaDlg::SaveSettings()
{
    const std::string& file = m_strIniFile;

    const int count = static_cast<int>(m_aPort.size());
    for (int i = 0; i < count; ++i) {
        const CPortInfo& port = m_aPort[static_cast<size_t>(i)];
        const std::string section = PortSection(i + 1);
        WritePrivateProfileStringA(section, "NAME", port.m_strName, file);
        WritePrivateProfileInt(section, "SPEED", port.m_nSpeed, file);
        WritePrivateProfileInt(section, "DATA", port.m_nData, file);
        WritePrivateProfileInt(section, "STOP", port.m_nStop, file);
        WritePrivateProfileInt(section, "PARITY", port.m_nParity, file);
        WritePrivateProfileInt(section, "RING", port.m_nRing, file);
        WritePrivateProfileInt(section, "INTERVAL", port.m_nRingInterval, file);
        WritePrivateProfileInt(section, "CONNECT_INTERVAL", port.m_nConnectInterval, file);
        WritePrivateProfileInt(section, "CONNECT", port.m_nConnect, file);
        WritePrivateProfileInt(section, "DSR", port.m_bDsr, file);
    }
    // The end of the list: an empty NAME in the section after the last port.
    WritePrivateProfileStringA(PortSection(count + 1), "NAME", "", file);

    WritePrivateProfileInt("SERVER", "PORT", m_nPort, file);

    // The seconds are stored; the tick counts follow from them on loading.
    WritePrivateProfileInt("TIME", "NO_COMM", m_nNoCommTime, file);
    WritePrivateProfileInt("TIME", "LIMIT", m_nLimitTime, file);
    WritePrivateProfileInt("TIME", "KEEP", m_nKeepTime, file);

    WritePrivateProfileStringA("TEXT", "CHECK1", EscapeControlChars(HangUpString(m_szCheck1)), file);
    WritePrivateProfileStringA("TEXT", "CHECK2", EscapeControlChars(HangUpString(m_szCheck2)), file);
    WritePrivateProfileStringA("TEXT", "AFTER", EscapeControlChars(m_strAfter), file);
    WritePrivateProfileStringA("TEXT", "FULL", EscapeControlChars(m_strFull), file);

    WritePrivateProfileInt("ALL", "TRAY", m_bTray, file);

    WritePrivateProfileInt("LOG", "ENABLE", m_bLog, file);
    WritePrivateProfileStringA("LOG", "DIR", m_strLogDir, file);
}
