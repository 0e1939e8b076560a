// Loading and saving the settings in korvo.ini: the port sections COM1,
// COM2, ... up to the first without a NAME, and the general sections SERVER,
// TIME, TEXT, LOG, DEBUG and ALL.
#include "relay/TextEscapes.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/base/stderrline.h"
#include "platform/system/cp932.h"
#include "platform/system/profile.h"
#include "resources/resource.h"
#include "resources/ResString.h"
#include "maindlg/SkiffaDlg.h"

namespace {

// NAME and DIR are read through a buffer of this size: at most 259 bytes.
constexpr DWORD kShortTextBuffer = 260;

// The keys of a port section's nine line settings, in the order they are
// written.
struct LineSettingKey {
    const char* key;
    int CLineSettings::*field;
};
constexpr LineSettingKey kLineSettingKeys[] = {
    {"SPEED", &CLineSettings::m_nSpeed},
    {"DATA", &CLineSettings::m_nData},
    {"STOP", &CLineSettings::m_nStop},
    {"PARITY", &CLineSettings::m_nParity},
    {"RING", &CLineSettings::m_nRing},
    {"INTERVAL", &CLineSettings::m_nRingInterval},
    {"CONNECT_INTERVAL", &CLineSettings::m_nConnectInterval},
    {"CONNECT", &CLineSettings::m_nConnect},
    {"DSR", &CLineSettings::m_bDsr},
};

std::string PortSection(int n)
{
    char section[32];
    std::snprintf(section, sizeof section, "%s%d", "COM", n);
    return section;
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

// One stderr line at start: the file the settings came from and how many
// lines it gave, or why it could not be read.
void ReportSettingsRead(const std::string& file, size_t lines)
{
    if (const int error = GetProfileReadError(file); error != 0) {
        WriteStderrLine("cannot read the settings [" + file + ": " + std::strerror(error) +
                        "]: every setting has its default, so there is no COM line");
        return;
    }
    std::string count = std::to_string(lines) + (lines == 1 ? " COM line" : " COM lines");
    if (lines == 0)
        count += " (the list starts with a section [COM1] that has a NAME)";
    WriteStderrLine("settings read [" + file + ": " + count + "]");
}

}  // namespace

int SecondsToTicks(int seconds)
{
    const long long ticks = 1000LL / TICK_MS * seconds;
    if (ticks > INT_MAX)
        return INT_MAX;
    if (ticks < INT_MIN)
        return INT_MIN;
    return static_cast<int>(ticks);
}

void CopyHangUpString(char (&member)[HANGUP_STORE_SIZE], const std::string& text)
{
    size_t length = 0;
    while (length < text.size()) {
        const size_t next = length + cp932::CharLength(text, length);
        if (next > HANGUP_STRING_MAX)
            break;
        length = next;
    }
    std::memcpy(member, text.data(), length);
    member[length] = '\0';
}

std::string HangUpString(const char (&member)[HANGUP_STORE_SIZE])
{
    return std::string(member, strnlen(member, HANGUP_STRING_MAX));
}

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
        for (const LineSettingKey& k : kLineSettingKeys)
            port.*k.field = GetPrivateProfileIntA(section, k.key, port.*k.field, file);
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

    ReportSettingsRead(file, m_aPort.size());
}

void CSkiffaDlg::SaveSettings()
{
    // Every key goes into one copy of the file, which replaces it once at the
    // end: the same bytes as key-by-key writes, in one atomic step.
    ProfileWriter ini(m_strIniFile);

    const int count = static_cast<int>(m_aPort.size());
    for (int i = 0; i < count; ++i) {
        const CPortInfo& port = Port(i);
        const std::string section = PortSection(i + 1);
        ini.WriteString(section, "NAME", port.m_strName);
        for (const LineSettingKey& k : kLineSettingKeys)
            ini.WriteInt(section, k.key, port.*k.field);
    }
    // The end of the list: an empty NAME in the section after the last port.
    ini.WriteString(PortSection(count + 1), "NAME", "");

    ini.WriteInt("SERVER", "PORT", m_nPort);

    // The seconds are stored; the tick counts follow from them on loading.
    ini.WriteInt("TIME", "NO_COMM", m_nNoCommTime);
    ini.WriteInt("TIME", "LIMIT", m_nLimitTime);
    ini.WriteInt("TIME", "KEEP", m_nKeepTime);

    ini.WriteString("TEXT", "CHECK1", EscapeControlChars(HangUpString(m_szCheck1)));
    ini.WriteString("TEXT", "CHECK2", EscapeControlChars(HangUpString(m_szCheck2)));
    ini.WriteString("TEXT", "AFTER", EscapeControlChars(m_strAfter));
    ini.WriteString("TEXT", "FULL", EscapeControlChars(m_strFull));

    ini.WriteInt("ALL", "TRAY", m_bTray);

    ini.WriteInt("LOG", "ENABLE", m_bLog);
    ini.WriteString("LOG", "DIR", m_strLogDir);

    // A failed save leaves the old file whole and is named on stderr.
    (void)ini.Commit();
}
