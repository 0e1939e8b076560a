// The main dialog: it owns everything the relay does at run time. Its members
// are defined in the files of this folder, one behaviour each:
//   SkiffaDlg.cpp         construction, message map, start-up and the end
//   SkiffaDlgConfig.cpp   loading and saving korvo.ini
//   SkiffaDlgSockets.cpp  the listener and the callers' sockets
//   SkiffaDlgLines.cpp    the answering-modem state machine of every line
//   SkiffaDlgPorts.cpp    opening and closing the lines, the port list
//   SkiffaDlgLog.cpp      the daily connection log
//   SkiffaDlgWindow.cpp   the window: tray icon, showing and hiding, painting
//   SkiffaDlgExit.cpp     the three ways to end the program and their questions
//   SkiffaDlgMenus.cpp    the pop-up menus, the buttons' commands, help
//   SkiffaDlgApply.cpp    applying the settings dialogs' results
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/windows/controls.h"
#include "platform/windows/dialog.h"
#include "platform/windows/tray.h"
#include "relay/CallerOutput.h"
#include "relay/PortInfo.h"
#include "settings/UserCount.h"

// Custom window messages of the main dialog.
constexpr UINT WM_SOCKET_NOTIFY = WM_APP + 1;
constexpr UINT WM_TRAY_NOTIFY = WM_APP + 2;
constexpr UINT WM_COMDATA = WM_APP + 3;
// WM_GETUSERCOUNT (WM_APP + 4) comes with the settings dialogs that ask it.
// A port's output queue has room again: wParam the row, lParam the port's
// generation (0 when the port was closed).
constexpr UINT WM_COMROOM = WM_APP + 5;
// A port's reader found its device gone: wParam the row, lParam the port
// object's generation.
constexpr UINT WM_COMGONE = WM_APP + 6;

// Timer ids: the 500 ms tick, and three one-shot bands of MAX_LINES ids each.
constexpr UINT TIMER_TICK = 1;
constexpr UINT TIMER_GIVE_UP = 2;           // a half-closed caller's close is overdue
constexpr UINT TICK_MS = 500;               // the tick's period
constexpr DWORD PORT_CLOSE_PAUSE_MS = 500;  // after each port's DTR drops, before it closes
constexpr UINT TIMER_RING = 100;            // + row: next RING, or connect after the last
constexpr UINT TIMER_RELEASE = 200;         // + row: a holding or initialising line becomes idle
constexpr UINT TIMER_CONNECT = 300;         // + row: the delayed CONNECT

class CSetting;

// A limit in seconds counted in ticks. A value from a hand-edited file can be
// as large as an int holds; the count stops at the int's range.
int SecondsToTicks(int seconds);

// Copies a hang-up string into its store: at most HANGUP_STRING_MAX bytes and
// the zero, cut before a double-byte character that would not fit whole.
void CopyHangUpString(char (&member)[HANGUP_STORE_SIZE], const std::string& text);
// The hang-up string a store holds.
std::string HangUpString(const char (&member)[HANGUP_STORE_SIZE]);

class CSkiffaDlg : public CDialogEx {
public:
    CSkiffaDlg();
    ~CSkiffaDlg() override;

    // --- members, in declaration order -------------------------------------
    HICON m_hIcon = nullptr;
    UINT m_nTaskbarCreatedMsg = 0;
    bool m_bShowWindow = true;
    CListCtrl m_listPort;
    SOCKET m_sockListen = INVALID_SOCKET;
    int m_nPort = 23;
    int m_nNoCommTime = 0;
    int m_nNoCommCount = 0;
    int m_nLimitTime = 0;
    int m_nLimitCount = 0;
    int m_nKeepTime = 10;
    char m_szCheck1[HANGUP_STORE_SIZE] = {};
    char m_szCheck2[HANGUP_STORE_SIZE] = {};
    std::string m_strAfter;
    std::string m_strFull;
    std::string m_strIniFile;
    int m_bTray = 0;
    bool m_bServiceMode = false;
    int m_bLog = 0;
    std::string m_strLogDir;
    std::string m_strExeDir;
    std::vector<CPortInfo> m_aPort;
    std::map<SOCKET, int> m_mapSocket;
    int m_bDebugLog = 0;
    CButton m_btnComPort;

    // --- lifecycle (SkiffaDlg.cpp) -------------------------------------------
    BOOL OnInitDialog() override;
    BOOL DestroyWindow() override;
    void DoDataExchange(CDataExchange* pDX) override;
    // The process ends under the dialog (the display went away): the lines
    // are released as at every end, without touching the window system.
    void EndAtForcedExit();

    // --- configuration and daily log (SkiffaDlgConfig.cpp, SkiffaDlgLog.cpp) --
    void LoadSettings();
    void SaveSettings();
    void WriteLog(int row);

    // --- listener and caller sockets (SkiffaDlgSockets.cpp) -----------------
    void StartListen();
    LRESULT OnSocketNotify(WPARAM wParam, LPARAM lParam);
    void OnSocketReceive(int row);

    // --- line state machine (SkiffaDlgLines.cpp) ----------------------------
    void OnTimer(UINT id);
    LRESULT OnComData(WPARAM wParam, LPARAM lParam);
    LRESULT OnComRoom(WPARAM wParam, LPARAM lParam);
    void SendConnect(int row);
    void SendToCaller(int row, const BYTE* bytes, int count);

    // --- line setup and port list (SkiffaDlgPorts.cpp) ----------------------
    void SetupPorts();
    void UpdatePortList();
    void ClosePorts();
    LRESULT OnComGone(WPARAM wParam, LPARAM lParam);

    // --- tray and window (SkiffaDlgWindow.cpp) ------------------------------
    void AddTrayIcon();
    LRESULT OnLvnItemchangedPortList(NMHDR* pNMHDR);
    void OnPaint();
    HICON OnQueryDragIcon();
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    void OnSize(UINT type, int cx, int cy);
    void OnShowStatus();
    void OnWindowPosChanging(WINDOWPOS* pos);

    // --- exit paths (SkiffaDlgExit.cpp) --------------------------------------
    void OnBnClickedExit();
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnTrayExit();

    // --- menus, commands and help (SkiffaDlgMenus.cpp) -----------------------
    LRESULT OnNMRClickPortList(NMHDR* pNMHDR);
    void OnComPortSetting();
    void OnBnClickedSetting();
    BOOL OnHelpInfo();

    // --- applying settings (SkiffaDlgApply.cpp) ------------------------------
    void OnSetting();
    void TakeBackGeneralSettings(const CSetting& dlg);
    void OnBnClickedComPort();
    LRESULT OnGetUserCount(WPARAM wParam, LPARAM lParam);

    // The number of lines that have a caller.
    int ConnectedUserCount() const;

    // Bytes waiting for a caller's socket to take them.
    size_t QueuedForCaller(SOCKET s) const { return m_callerOutput.QueuedBytes(s); }

    // How long a caller asked to end the call may take to close (2 minutes).
    static void SetCloseGiveUpForTesting(std::chrono::milliseconds giveUp);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

private:
    void BuildMessageMap();
    void SetupColumns();
    // The record of list row `row` (row i shows record i).
    CPortInfo& Port(int row) { return m_aPort[static_cast<size_t>(row)]; }
    const CPortInfo& Port(int row) const { return m_aPort[static_cast<size_t>(row)]; }

    // Window side (SkiffaDlgWindow.cpp, SkiffaDlgExit.cpp, SkiffaDlgMenus.cpp).
    void BringToForeground();
    void ShowPopupMenu(unsigned menuId, bool bringForward);
    bool AskToExit(unsigned questionId);

    // Caller side (SkiffaDlgSockets.cpp).
    std::string ListenOn(int port);
    void OnAccept();
    bool AcceptCaller();
    void OnCallerClosed(SOCKET s);
    int FreeLine();
    int ReceiveFromCaller(int row, bool atClose);
    void ReadCallerToEnd(int row);
    bool HostQueueFull(int row);
    void SendToSocket(SOCKET s, const void* bytes, size_t len);
    void HalfClose(int row);
    void AskCallerToClose(SOCKET s);
    void GiveUpOverdueCallers();
    void CloseCallerSocket(SOCKET s);
    CallerOutput::Socket CallerSockets();
    void WatchCallerWritable(SOCKET s, bool watch);
    void TraceDroppedCallerBytes(SOCKET s, size_t count);

    // Line state machine (SkiffaDlgLines.cpp).
    void CallStart(int row);
    void CallerGone(int row);
    void ConnectStep(int row);
    void RaiseDtr(int row);
    void DropDtr(int row);
    void WriteToHost(int row, const void* bytes, int len);
    void WriteTextToHost(int row, const void* text, int len);
    void OnRingTimer(int row);
    void OnReleaseTimer(int row);
    void OnConnectTimer(int row);
    void OnTick();
    bool TickNeeded() const;
    void StartTickIfNeeded();
    void ParseHostCommands(int row, const BYTE* bytes, int count);
    void AnswerCall(int row);
    void HostDataInCall(int row, const BYTE* bytes, int count);
    bool DsrIsOn(int row);

    // Serial ports (maindlg/SkiffaDlgPorts.cpp). The dialog owns every open
    // port here, slot i for row i; the record's m_pComm only observes it.
    CSerialPort* CreatePort(int row);
    void ReleasePort(int row);
    void ReleaseAllPorts();
    std::vector<std::unique_ptr<CSerialPort>> m_openPorts;

    // Line setup (SkiffaDlgPorts.cpp).
    bool RetireLineIfDeviceGone(int row);
    void ReportDeviceGone(int row);

    // Bytes that callers' sockets did not take at once.
    CallerOutput m_callerOutput;
    // Callers asked to end the call, and when their close is overdue.
    std::map<SOCKET, std::chrono::steady_clock::time_point> m_closeDue;
};
