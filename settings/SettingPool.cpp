// The port pool editor of the general settings dialog: the present ports and
// the pool side by side, each list kept parallel to its vector of records,
// moving ports between them and within the pool, editing a pool port's line
// settings, and the summary of the selected pool port.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "resources/ResString.h"
#include "resources/resource.h"
#include "settings/PortSetting.h"
#include "settings/Setting.h"

namespace {

// The highest value each option has a text for.
constexpr int kLastParity = 2;
constexpr int kLastRingCount = 3;
constexpr int kLastConnectMode = 2;

// A record holding only the name and the nine line settings of `port`, every
// run-time field at its idle value.
CPortInfo SettingsOnly(const CPortInfo& port)
{
    CPortInfo copy = CPortInfo::FromSectionDefaults(port.m_strName);
    copy.LineSettings() = port.LineSettings();
    return copy;
}

// The text an option's value has in the table (base + value). A value outside
// the option's own texts has none: it never borrows a neighbouring option's.
std::string OptionText(unsigned base, int value, int last)
{
    return value >= 0 && value <= last ? LoadResString(base + static_cast<unsigned>(value)) : std::string();
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out(static_cast<size_t>(std::max(size, 0)) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, again);
    va_end(again);
    out.resize(out.size() - 1);
    return out;
}

}  // namespace

std::string PortInfoSummary(const CPortInfo& port)
{
    std::string ring = LoadResString(IDS_RING_NONE);
    if (port.m_nRing != 0)
        ring = Format("%s(%dms)", OptionText(IDS_RING_NONE, port.m_nRing, kLastRingCount).c_str(),
                      port.m_nRingInterval);
    return Format(
        "Speed=%dbps\r\nData=%dbit,Stop=%dbit\r\nParity=%s\r\nRing=%s\r\nConnect=%s(%dms)\r\nDSR OFF=%s",
        port.m_nSpeed, port.m_nData, port.m_nStop,
        OptionText(IDS_PARITY_FIRST, port.m_nParity, kLastParity).c_str(), ring.c_str(),
        OptionText(IDS_CONNECT_FIRST, port.m_nConnect, kLastConnectMode).c_str(), port.m_nConnectInterval,
        LoadResString(port.m_bDsr == 0 ? IDS_DSR_KEEP : IDS_DSR_CUT).c_str());
}

void CSetting::SetPorts(const std::vector<CPortInfo>& ports)
{
    m_aUsePort.clear();
    for (const CPortInfo& port : ports)
        m_aUsePort.push_back(SettingsOnly(port));
}

void CSetting::GetPorts(std::vector<CPortInfo>& ports) const
{
    ports.clear();
    for (const CPortInfo& port : m_aUsePort)
        ports.push_back(SettingsOnly(port));
}

bool CSetting::IsUsedPort(const std::string& name) const
{
    for (const CPortInfo& port : m_aUsePort) {
        if (port.m_strName == name)
            return true;
    }
    return false;
}

void CSetting::OnBnClickedAdd()
{
    const int i = m_listFreePort.GetCurSel();
    if (i >= 0 && static_cast<size_t>(i) < m_aFreePort.size()) {
        const auto at = m_aFreePort.begin() + i;
        m_listFreePort.DeleteString(i);
        m_listUsePort.AddString(at->m_strName);
        m_aUsePort.push_back(*at);
        m_aFreePort.erase(at);
        m_bChanged = true;
    }
    UpdatePortControls();
}

// A port leaves the pool with its settings as they are now, so putting it
// back during the same opening keeps them.
void CSetting::OnBnClickedDelete()
{
    const int i = m_listUsePort.GetCurSel();
    if (i >= 0 && static_cast<size_t>(i) < m_aUsePort.size()) {
        const auto at = m_aUsePort.begin() + i;
        m_listUsePort.DeleteString(i);
        m_listFreePort.AddString(at->m_strName);
        m_aFreePort.push_back(*at);
        m_aUsePort.erase(at);
        m_bChanged = true;
    }
    UpdatePortControls();
}

void CSetting::OnBnClickedUp()
{
    const int i = m_listUsePort.GetCurSel();
    if (i > 0 && static_cast<size_t>(i) < m_aUsePort.size())
        SwapUsedPorts(i, i - 1);
    UpdatePortControls();
}

void CSetting::OnBnClickedDown()
{
    const int i = m_listUsePort.GetCurSel();
    if (i >= 0 && i < m_listUsePort.GetCount() - 1 && static_cast<size_t>(i) + 1 < m_aUsePort.size())
        SwapUsedPorts(i, i + 1);
    UpdatePortControls();
}

// Moves the selected pool entry `from` to its neighbour's place `to`, where
// it stays selected, and exchanges the two records.
void CSetting::SwapUsedPorts(int from, int to)
{
    const std::string name = m_listUsePort.GetText(from);
    m_listUsePort.DeleteString(from);
    m_listUsePort.InsertString(to, name);
    m_listUsePort.SetCurSel(to);
    const CPortInfo moved = m_aUsePort[static_cast<size_t>(from)];
    m_aUsePort[static_cast<size_t>(from)] = m_aUsePort[static_cast<size_t>(to)];
    m_aUsePort[static_cast<size_t>(to)] = moved;
    m_bChanged = true;
}

// The COM port settings dialog for the selected pool port. It asks nothing
// itself: the question belongs to this dialog's OK.
void CSetting::OnBnClickedPortSetting()
{
    const int i = m_listUsePort.GetCurSel();
    if (i < 0 || static_cast<size_t>(i) >= m_aUsePort.size())
        return;
    const auto row = static_cast<size_t>(i);
    CPortSetting dlg(this);
    dlg.LoadFrom(m_aUsePort[row]);
    dlg.m_strPortName = m_listUsePort.GetText(i);
    if (dlg.DoModal() != IDOK)
        return;
    dlg.StoreInto(m_aUsePort[row]);
    m_bChanged = true;  // confirmed counts as changed, whatever the values
    UpdatePortControls();
}

void CSetting::OnLbnSelchangeList()
{
    UpdatePortControls();
}

// The buttons follow the two selections. With no pool port selected the
// summary keeps the last one shown.
void CSetting::UpdatePortControls()
{
    const int i = m_listUsePort.GetCurSel();
    const bool selected = i >= 0;
    m_btnDelete.EnableWindow(selected);
    m_btnUp.EnableWindow(selected && i > 0);
    m_btnDown.EnableWindow(selected && i < m_listUsePort.GetCount() - 1);
    m_btnPortSetting.EnableWindow(selected);
    if (selected && static_cast<size_t>(i) < m_aUsePort.size())
        m_staticPortInfo.SetWindowText(PortInfoSummary(m_aUsePort[static_cast<size_t>(i)]));
    m_btnAdd.EnableWindow(m_listFreePort.GetCurSel() >= 0);
}
