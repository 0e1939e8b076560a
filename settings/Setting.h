// The general settings dialog: the TCP port, the pool of COM ports and its
// order, the times, the hang-up and notice texts, the daily log and the
// start-in-tray option. It edits copies that its caller hands in and takes
// back only when it ends with IDOK.
#pragma once

#include <string>
#include <vector>

#include "platform/windows/controls.h"
#include "platform/windows/dialog.h"
#include "relay/PortInfo.h"

// The longest hang-up string the dialog hands back, in code-page bytes.
constexpr int HANGUP_TEXT_LIMIT = 2048;

class CSetting : public CDialogEx {
public:
    // `pParent` answers WM_GETUSERCOUNT.
    explicit CSetting(CDialogEx* pParent = nullptr);
    ~CSetting() override;

    // The pool of used ports, as settings only: names and the nine line
    // settings, every run-time field at its idle value.
    void SetPorts(const std::vector<CPortInfo>& ports);
    void GetPorts(std::vector<CPortInfo>& ports) const;
    // True when a used port has exactly this name.
    bool IsUsedPort(const std::string& name) const;

    // The folder chooser owned by `owner`: true with the chosen folder in
    // `path`; false, and nothing said, when it is cancelled or fails.
    static bool BrowseForFolder(HWND owner, const std::string& title, std::string& path);

    // --- members, in declaration order -------------------------------------
    // The caller sets the five ints before the dialog opens.
    int m_nNoCommTime = 0;    // s without traffic before a call is cut; 0 = never
    int m_nLimitTime = 0;     // longest call in s; 0 = no limit
    std::string m_strAfter;   // sent to the host when a caller leaves
    std::string m_strFull;    // sent to a caller when every line is busy
    int m_nKeepTime = 0;      // s a line is held after a call; 0 = no hold
    int m_nPort = 0;          // TCP port to listen on, in and out
    bool m_bChanged = false;  // the pool, its order or a port's settings changed
    CButton m_btnAdd;
    CButton m_btnDelete;
    CButton m_btnDown;
    CButton m_btnPortSetting;
    CButton m_btnUp;
    CEdit m_editCheck1;
    CEdit m_editAfter;
    std::string m_strPort = "telnet";    // the text of the TCP port box
    std::vector<CPortInfo> m_aUsePort;   // the pool, in list order
    std::vector<CPortInfo> m_aFreePort;  // present ports not in the pool
    CListBox m_listFreePort;
    CListBox m_listUsePort;
    CStatic m_staticPortInfo;
    int m_bTray = 0;            // start hidden in the tray
    std::string m_strCheck[2];  // host hang-up strings 1 and 2
    CEdit m_editCheck2;
    CEdit m_editFull;
    CEdit m_editLogDir;
    std::string m_strLogDir;  // folder of the daily log; empty = current folder
    int m_bLog = 0;           // write the daily log
    int m_bDebugLog = 0;      // debug trace, carried through a hidden box

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnInitDialog() override;

private:
    void BuildMessageMap();
    void FillFreePorts(const std::vector<std::string>& present);
    bool MultiLineEditHasFocus() const;
    void OnBnClickedOk();
    void OnBnClickedLogCheck();
    void OnBnClickedBrowse();

    // The port pool editor (SettingPool.cpp).
    void OnBnClickedAdd();
    void OnBnClickedDelete();
    void OnBnClickedUp();
    void OnBnClickedDown();
    void OnBnClickedPortSetting();
    void OnLbnSelchangeList();
    void UpdatePortControls();
    void SwapUsedPorts(int a, int b);
};

// The summary of a port's settings that the dialog shows for the selected
// used port: six lines, separated by CR LF.
std::string PortInfoSummary(const CPortInfo& port);
