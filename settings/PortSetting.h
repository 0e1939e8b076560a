// The COM port settings dialog: edits one line's serial parameters and
// answering-modem options on values its caller copies in, and hands them back
// when it ends with IDOK.
#pragma once

#include <cstdint>
#include <string>

#include "platform/windows/controls.h"
#include "platform/windows/dialog.h"
#include "relay/PortInfo.h"

// Baud rates by the speed combo's item index, ended by -1.
extern const int g_BaudRates[6];

class CPortSetting : public CDialogEx {
public:
    // `pParent` answers WM_GETUSERCOUNT when m_bConfirm is set.
    explicit CPortSetting(CDialogEx* pParent = nullptr);
    ~CPortSetting() override;

    // --- members, in declaration order -------------------------------------
    int m_nSpeedIndex = 2;          // speed combo item, an index into g_BaudRates
    int m_nStopIndex = 0;           // 0: 1 stop bit, 1: 2 stop bits
    int m_nDataIndex = 0;           // 0: 8 data bits, 1: 7 data bits
    int m_nRingInterval = 500;      // ms between RINGs
    int m_nConnect = 1;             // CONNECT mode: 0 none, 1 after ATA, 2 after the RINGs
    int m_nParity = 0;              // 0 none, 1 odd, 2 even
    int m_nRing = 2;                // RINGs sent, 0 to 3
    std::int32_t m_nSpeed = 38400;  // baud rate, in and out
    int m_nStop = 1;                // stop bits, 1 or 2; in and out
    int m_nData = 8;                // data bits, 8 or 7; in and out
    BOOL m_bDsr = FALSE;            // cut the call when DSR drops
    std::string m_strPortName;      // shown in the caption
    int m_nConnectInterval = 0;     // ms from the host's ATA to CONNECT
    bool m_bConfirm = false;        // ask before OK while users are connected
    CEdit m_editRingInterval;
    CEdit m_editConnectInterval;

    // The nine line settings, from a record before the dialog runs and back
    // into one after OK.
    void LoadFrom(const CPortInfo& port);
    void StoreInto(CPortInfo& port) const;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

private:
    void BuildMessageMap();
    void OnCbnSelchangeCombo();
    void OnBnClickedOk();
    void EnableIntervalEdits();
};
