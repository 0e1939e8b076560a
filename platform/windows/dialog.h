// The dialog window base: a Qt dialog built from a template, with window
// messages posted and sent through WindowProc, a message map dispatched in its
// stated order, timers by id, and the controls looked up by id.
#pragma once

#include <QDialog>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/windows/controls.h"
#include "platform/windows/dialogtemplate.h"
#include "platform/base/message.h"
#include "platform/base/wintypes.h"

class QEventLoop;
class QKeyEvent;
class QPlainTextEdit;
class QTimer;
class QWidget;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_RESTORE = 9;

// WM_SIZE size types.
constexpr UINT SIZE_RESTORED = 0;
constexpr UINT SIZE_MINIMIZED = 1;

// The bounds of a timer's elapse in ms: a shorter one is the shortest, a
// longer one the longest, as with the system's window timers.
constexpr UINT USER_TIMER_MINIMUM = 10;
constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;
UINT TimerElapse(UINT elapseMs);

// The header of a WM_NOTIFY message.
struct NMHDR {
    HWND hwndFrom;
    UINT idFrom;
    int code;
};

// A window position change about to be applied (WM_WINDOWPOSCHANGING's
// lParam); a handler may take SWP_SHOWWINDOW out to keep the window hidden.
constexpr UINT SWP_SHOWWINDOW = 0x0040;
struct WINDOWPOS {
    UINT flags;
};

// A message the UI thread is about to dispatch (keyboard input for now).
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_SYSKEYDOWN = 0x0104;  // a key pressed while Alt is held
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_F1 = 0x70;

// Selects the whole text of an edit, a multi-line edit or an editable combo
// box; other controls are left alone.
void SelectEditText(QObject* control);

#include "platform/windows/ddx.h"

class CDialogEx : public QDialog, public MessageTarget {
public:
    explicit CDialogEx(const DialogTemplate& tmpl, QWidget* parent = nullptr);
    ~CDialogEx() override;
    CDialogEx(const CDialogEx&) = delete;
    CDialogEx& operator=(const CDialogEx&) = delete;

    // Builds the window, runs OnInitDialog, shows it and runs its modal loop
    // until EndDialog; then DestroyWindow. Returns the EndDialog result; a
    // dialog whose owner is ending does not open and returns IDCANCEL.
    int DoModal();
    // Ends the modal loop with the result, and the modal windows it owns;
    // DestroyWindow follows. The first end of a run stands: what resumes
    // after it cannot turn a cancelled dialog into an accepted one.
    void EndDialog(int result);
    // Whether `window` is, or is owned by, a dialog whose run has ended while
    // its modal loop still unwinds: no box or dialog opens above it any more.
    static bool IsEndingWindow(const QWidget* window);

    HWND GetSafeHwnd() { return this; }

    // MessageTarget: PostMessage is thread-safe, SendMessage runs at once.
    bool PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Delivers the posted messages waiting now, in order, and none posted
    // meanwhile (UI thread only). Nothing is delivered once the dialog has
    // ended.
    void DeliverPosted();

    // Timers by id: setting a pending id restarts it; each expiry sends
    // WM_TIMER with the id as wParam. The elapse is taken as TimerElapse gives it.
    UINT SetTimer(UINT id, UINT elapseMs);
    BOOL KillTimer(UINT id);
    bool IsTimerPending(UINT id) const;

    QWidget* GetDlgItem(UINT id) const;
    // The window this dialog was made for (its owner); null for none.
    HWND GetParent() const;

    // Window text and showing, in code-page text.
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    // Showing the window also brings back the windows it owns.
    BOOL ShowWindow(int cmd);
    BOOL IsIconic() const;
    // Raises the window and gives the keyboard to it, or to the modal window
    // open above it.
    void SetForegroundWindow();

    // A message box owned by this window (see platform/windows/msgbox.h).
    int MessageBox(const std::string& text, const std::string& caption, UINT type,
                   const std::string& detail = {});

    // Greys the system menu's Close item: the window manager's close request
    // then does nothing.
    void DisableSystemClose();

    // Data exchange between controls and members: false when a check failed.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // The dialog template's font's base units in pixels (x, y).
    int BaseUnitX() const { return m_baseX; }
    int BaseUnitY() const { return m_baseY; }

protected:
    // Fills the combo boxes from the template and shows the members; TRUE
    // puts the focus on the first control that takes it.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    virtual BOOL DestroyWindow();
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Sees every key press of the dialog and its controls before they act
    // on it; TRUE drops the key.
    virtual BOOL PreTranslateMessage(MSG* /*pMsg*/) { return FALSE; }
    virtual void OnOK();
    virtual void OnCancel();

    // The framework's handling of messages the map does not take.
    LRESULT DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // The framework's painting of the dialog, for a WM_PAINT handler that
    // leaves the painting to it.
    void OnPaint();

    // Message-map entries, tried in the order they were added.
    using MessageHandler = std::function<LRESULT(WPARAM, LPARAM)>;
    void OnMessage(UINT msg, MessageHandler handler);
    void OnCommand(UINT id, std::function<void()> handler);             // menu command or accelerator
    void OnControl(UINT code, UINT id, std::function<void()> handler);  // WM_COMMAND notification
    void OnNotify(int code, UINT id, std::function<LRESULT(NMHDR*)> handler);

    // Qt side.
    void customEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void done(int r) override;
    void setVisible(bool visible) override;

private:
    struct Posted {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
        std::uint64_t serial;  // the order of posting, from 1
    };
    // Asks the event loop for a delivery unless one is asked for already;
    // with m_postMutex held (released on return).
    void RequestDelivery(std::unique_lock<std::mutex>& lock);

    struct MapEntry {
        UINT message;
        UINT code;  // WM_COMMAND notification or WM_NOTIFY code (as unsigned)
        UINT id;    // control or command id; 0 for plain messages
        MessageHandler handler;
    };
    bool Dispatch(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void BuildFromTemplate();
    void WireControl(const ControlTemplate& ct, QWidget* w);
    void SetLabelBuddies();
    void ExecuteDlgInit();
    void FocusFirstTabStop();
    bool PreTranslateKey(QKeyEvent* event);
    static void SelectTextOnFocus(QObject* control, Qt::FocusReason reason);
    void EndOwnedModalWindows();
    void ShowOwnedWindows();
    void ShowOwnedWindowsOnceMapped();
    bool MultiLineEnter(QPlainTextEdit* edit, QKeyEvent* event);
    UINT EnterCommandId() const;

    const DialogTemplate& m_template;
    std::vector<MapEntry> m_map;
    std::map<UINT, QTimer*> m_timers;
    std::map<UINT, QWidget*> m_controls;
    std::vector<QWidget*> m_items;  // every control, in template order
    QEventLoop* m_loop = nullptr;
    QPaintEvent* m_paintEvent = nullptr;  // the paint in progress
    int m_modalResult = IDCANCEL;
    bool m_endPending = false;
    bool m_ended = false;  // from EndDialog until the next DoModal
    bool m_systemCloseDisabled = false;
    bool m_placed = false;                // shown once: it keeps its place from then on
    bool m_showOwnedWhenExposed = false;  // until the window manager has mapped the window
    bool m_built = false;
    bool m_destroyed = false;
    int m_baseX = 0;
    int m_baseY = 0;
    // Posted messages, in the order they were posted. A delivery event is in
    // Qt's queue while m_deliveryRequested is set.
    std::mutex m_postMutex;
    std::deque<Posted> m_posted;
    std::uint64_t m_postedSerial = 0;  // of the last message posted
    bool m_deliveryRequested = false;
};
