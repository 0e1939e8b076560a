// The COM port settings dialog: edits one line's serial parameters and
// answering-modem options on values its caller copies in, and hands them back
// when it ends with IDOK.
#pragma once

#include <string>

#include "platform/windows/controls.h"
#include "platform/windows/dialog.h"
#include "relay/LineSettings.h"

// Baud rates by the speed combo's item index, ended by -1.
extern const int g_BaudRates[6];

// The dialog edits the nine line settings in its own CLineSettings base.
class CPortSetting : public CDialogEx, public CLineSettings {
public:
    // `pParent` answers WM_GETUSERCOUNT when m_bConfirm is set.
    explicit CPortSetting(CDialogEx* pParent = nullptr);
    ~CPortSetting() override;

    // --- members, in declaration order -------------------------------------
    int m_nSpeedIndex = 2;      // speed combo item, an index into g_BaudRates
    int m_nStopIndex = 0;       // 0: 1 stop bit, 1: 2 stop bits
    int m_nDataIndex = 0;       // 0: 8 data bits, 1: 7 data bits
    std::string m_strPortName;  // shown in the caption
    bool m_bConfirm = false;    // ask before OK while users are connected
    CEdit m_editRingInterval;
    CEdit m_editConnectInterval;

    // The nine line settings, from a record before the dialog runs and back
    // into one after OK.
    void LoadFrom(const CLineSettings& line);
    void StoreInto(CLineSettings& line) const;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

private:
    void BuildMessageMap();
    void OnCbnSelchangeCombo();
    void OnBnClickedOk();
    void EnableIntervalEdits();
};
