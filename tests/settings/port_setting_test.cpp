// The COM port settings dialog driven for real on the offscreen platform: the
// values it shows and hands back, the interval checks and their messages, the
// confirmation at OK, and the keyboard.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <array>
#include <filesystem>
#include <functional>
#include <tuple>
#include <gtest/gtest.h>

#include "platform/system/cp932.h"
#include "platform/windows/msgbox.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "settings/PortSetting.h"
#include "settings/UserCount.h"

namespace {

constexpr const char* kNotANumber = "整数を入力してください。";
constexpr const char* kOutOfRange = "0 から 10000 までの整数を入力してください。";
constexpr const char* kQuestion =
    "接続中のユーザーがいます。\r\n強制切断されますが、設定変更してもよいですか？";

// The members the dialog shows and hands back: speed, data bits, stop bits,
// parity, RING, CONNECT, DSR, RING interval, CONNECT wait.
using Fields = std::tuple<int, int, int, int, int, int, int, int, int>;
constexpr size_t kRingInterval = 7;
constexpr size_t kWait = 8;
template <class Dialog> auto Members(Dialog& d)
{
    return std::tie(d.m_nSpeed, d.m_nData, d.m_nStop, d.m_nParity, d.m_nRing, d.m_nConnect, d.m_bDsr,
                    d.m_nRingInterval, d.m_nConnectInterval);
}
// A plain line, as the main window fills the dialog for it.
constexpr Fields kPlain = {9600, 8, 1, 0, 2, 1, 1, 1000, 2000};

// The dialog for line COM3 and the window it belongs to, which answers the
// user-count question and counts the asks. Message boxes are recorded and
// answered from `answers`, then with IDOK.
struct PortDialog : CDialogEx {
    explicit PortDialog(const Fields& fields = kPlain) : CDialogEx(FindDialogTemplate(IDD_MAIN_DIALOG))
    {
        OnMessage(WM_GETUSERCOUNT, [this](WPARAM, LPARAM) { return ++asked, LRESULT(users); });
        SetMessageBoxHookForTesting([this](const MessageBoxRecord& r) {
            boxes.push_back(r);
            texts.push_back(cp932::ToUtf8(r.text));
            return boxes.size() <= answers.size() ? answers[boxes.size() - 1] : IDOK;
        });
        Members(dlg) = fields;
        dlg.m_strPortName = "COM3";
    }
    ~PortDialog() override { SetMessageBoxHookForTesting({}); }

    // Runs the dialog; `drive` acts inside its modal loop. A dialog that is
    // still open afterwards is noted and cancelled.
    int Run(const std::function<void()>& drive)
    {
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg)) << "the dialog takes the keyboard";
            drive();
            stillOpen = dlg.isVisible();
            if (stillOpen)
                dlg.EndDialog(IDCANCEL);
        });
        return dlg.DoModal();
    }

    Fields Taken() const { return Members(dlg); }
    QComboBox* Combo(unsigned id) const { return qobject_cast<QComboBox*>(dlg.GetDlgItem(id)); }
    QLineEdit* Edit(unsigned id) const { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }
    QCheckBox* Dsr() const { return qobject_cast<QCheckBox*>(dlg.GetDlgItem(IDC_DSR)); }
    void ClickOk() const { qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->click(); }
    static unsigned FocusId()
    {
        const QWidget* f = QApplication::focusWidget();
        return f != nullptr ? f->objectName().toUInt() : 0;
    }
    // A key as the keyboard delivers it: to the control that has the focus.
    static void Press(Qt::Key key, Qt::KeyboardModifiers mods = {})
    {
        QTest::keyClick(QApplication::focusWidget(), key, mods);
    }

    int users = 0;
    int asked = 0;
    std::vector<int> answers;
    std::vector<MessageBoxRecord> boxes;
    std::vector<std::string> texts;  // UTF-8
    CPortSetting dlg{this};
    bool stillOpen = false;
};

}  // namespace

TEST(PortSettingDialog, ShowsItsValuesAndHandsBackWhatItShows)
{
    // The last line holds what a hand-edited korvo.ini can: a speed not in the
    // table, RING and CONNECT outside their lists, a DSR flag outside 0 to 2.
    struct Case {
        Fields in;
        const char* shown;       // speed|data|stop|parity|RING|CONNECT, empty for no item
        std::array<bool, 3> on;  // the DSR box checked, the RING interval and the wait enabled
        Fields back;
    };
    const Case cases[] = {
        {{115200, 8, 1, 0, 0, 1, 2, 1000, 2000},  // a two-state box shows 2 as set, keeps it as 2
         "115200bps|8bit|1bit|None|なし|ATA受信後",
         {true, false, true},
         {115200, 8, 1, 0, 0, 1, 2, 1000, 2000}},
        {{9600, 8, 2, 1, 3, 2, 0, 0, 10000},
         "9600bps|8bit|2bit|Odd|3回|RING送出終了後",
         {false, true, false},
         {9600, 8, 2, 1, 3, 2, 0, 0, 10000}},
        {{4800, 7, 2, 2, 5, -1, 7, 300, 2000},
         "38400bps|7bit|2bit|Even||",
         {false, true, false},
         {38400, 7, 2, 2, -1, -1, 0, 300, 2000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        PortDialog d(c.in);
        QStringList shown;
        const int result = d.Run([&] {
            EXPECT_EQ(d.dlg.GetWindowText(), cp932::FromUtf8("COM3 設定"));
            for (const unsigned id : {IDC_SPEED, IDC_DATA, IDC_STOP, IDC_PARITY, IDC_RING, IDC_CONNECT})
                shown << d.Combo(id)->currentText();
            EXPECT_EQ(d.Edit(IDC_RING_INTERVAL)->text(), QString::number(std::get<kRingInterval>(c.in)));
            EXPECT_EQ(d.Edit(IDC_CONNECT_INTERVAL)->text(), QString::number(std::get<kWait>(c.in)));
            EXPECT_EQ((std::array{d.Dsr()->isChecked(), d.Edit(IDC_RING_INTERVAL)->isEnabled(),
                                  d.Edit(IDC_CONNECT_INTERVAL)->isEnabled()}),
                      c.on)
                << "only 0 RINGs disable the interval; the wait counts only in mode 1";
            EXPECT_EQ(d.FocusId(), IDC_SPEED) << "the first control has the focus";
            d.ClickOk();
        });
        EXPECT_EQ(shown.join('|').toStdString(), c.shown);
        EXPECT_EQ(result, IDOK);
        EXPECT_TRUE(d.boxes.empty());
        EXPECT_EQ(d.Taken(), c.back);
    }
}

TEST(PortSettingDialog, AChoiceIsTakenAtOnceUnlessAFieldBeforeItIsRejected)
{
    PortDialog d;
    d.Run([&] {
        QLineEdit* ring = d.Edit(IDC_RING_INTERVAL);
        QLineEdit* wait = d.Edit(IDC_CONNECT_INTERVAL);
        d.Combo(IDC_RING)->setFocus();
        d.Press(Qt::Key_Home);  // なし
        EXPECT_FALSE(ring->isEnabled());
        EXPECT_EQ(d.dlg.m_nRing, 0) << "the choice is taken at once";
        d.Press(Qt::Key_Down);  // 1回
        EXPECT_TRUE(ring->isEnabled());
        d.Combo(IDC_CONNECT)->setFocus();
        // RING送出終了後, ATA受信後, なし
        for (const auto& [key, on] :
             {std::pair{Qt::Key_End, false}, std::pair{Qt::Key_Up, true}, std::pair{Qt::Key_Home, false}}) {
            d.Press(key);
            EXPECT_EQ(wait->isEnabled(), on) << "key " << key;
        }
        // A bad RING interval, the first field, stops the exchange that the
        // next choice starts: the fields after it keep their values.
        ring->setText("abc");
        d.Combo(IDC_PARITY)->setCurrentIndex(1);
        d.Press(Qt::Key_End);
        EXPECT_EQ(d.FocusId(), IDC_RING_INTERVAL);
    });
    EXPECT_TRUE(d.stillOpen);
    EXPECT_EQ(d.texts, std::vector<std::string>{kNotANumber});
    EXPECT_EQ(d.Taken(), (Fields{9600, 8, 1, 0, 1, 0, 1, 1000, 2000}));
}

TEST(PortSettingDialog, OkChecksTheIntervalsAndAsksWhileUsersAreConnected)
{
    const char* const R = kOutOfRange;
    const char* const N = kNotANumber;
    const char* const Q = kQuestion;
    struct Case {
        const char* ring;  // typed into the RING interval; null: left as shown
        int wait;          // the CONNECT wait the dialog is given
        bool confirm;
        int users;
        std::vector<int> answers;  // to the boxes, in turn
        int clicks;                // on OK
        std::vector<const char*> boxes;
        int asked;       // times the parent was asked for the user count
        unsigned focus;  // the edit a rejection focuses, all its text selected; 0: OK closes
        int ringBack;    // taken when OK closes
    };
    const Case cases[] = {
        {"0", 2000, false, 0, {}, 1, {}, 0, 0, 0},
        {"10000", 2000, false, 0, {}, 1, {}, 0, 0, 10000},
        {"12ms", 2000, false, 0, {}, 1, {}, 0, 0, 12},
        // Rejected once by OK, once by the framework.
        {"10001", 2000, false, 0, {}, 1, {R, R}, 0, IDC_RING_INTERVAL, 0},
        {"-1", 2000, false, 0, {}, 1, {R, R}, 0, IDC_RING_INTERVAL, 0},
        {"", 2000, false, 0, {}, 1, {N, N}, 0, IDC_RING_INTERVAL, 0},
        // Asked at every OK, even with nothing changed; No keeps the dialog and its edits.
        {"750", 2000, true, 1, {IDNO, IDYES}, 2, {Q, Q}, 2, 0, 750},
        {nullptr, 2000, true, 0, {}, 1, {}, 1, 0, 1000},   // nobody connected
        {nullptr, 2000, false, 3, {}, 1, {}, 0, 0, 1000},  // from the port pool editor, which does not ask
        // A wait too long from the file is shown as it is, and refused around the question.
        {nullptr, 20000, true, 1, {IDOK, IDYES}, 1, {R, Q, R}, 1, IDC_CONNECT_INTERVAL, 0},
        {nullptr, 20000, true, 1, {IDOK, IDNO}, 1, {R, Q}, 1, IDC_CONNECT_INTERVAL, 0},
    };
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        PortDialog d;
        d.answers = c.answers;
        d.dlg.m_nConnectInterval = c.wait;
        d.dlg.m_bConfirm = c.confirm;
        d.users = c.users;
        unsigned focus = 0;
        bool selected = false;
        const int result = d.Run([&] {
            EXPECT_EQ(d.Edit(IDC_CONNECT_INTERVAL)->text(), QString::number(c.wait));
            EXPECT_TRUE(d.boxes.empty()) << "shown without a message";
            if (c.ring != nullptr)
                d.Edit(IDC_RING_INTERVAL)->setText(QString::fromUtf8(c.ring));
            for (int i = 0; i < c.clicks; ++i) {
                EXPECT_TRUE(d.dlg.isVisible());
                d.ClickOk();
            }
            focus = d.FocusId();
            const auto* edit = qobject_cast<const QLineEdit*>(QApplication::focusWidget());
            selected = edit != nullptr && edit->selectedText() == edit->text();
        });
        EXPECT_EQ(d.stillOpen, c.focus != 0);
        EXPECT_EQ(d.texts, std::vector<std::string>(c.boxes.begin(), c.boxes.end()));
        EXPECT_EQ(d.asked, c.asked);
        for (const MessageBoxRecord& box : d.boxes) {
            const bool asks = cp932::ToUtf8(box.text) == Q;
            EXPECT_EQ(box.caption, asks ? "Varnex - Skiffa" : program);
            EXPECT_EQ(box.type, asks ? MB_YESNO | MB_ICONQUESTION : MB_ICONEXCLAMATION);
            EXPECT_EQ(box.owner, static_cast<HWND>(&d.dlg));
        }
        if (c.focus == 0) {
            EXPECT_EQ(result, IDOK);
            EXPECT_EQ(d.dlg.m_nRingInterval, c.ringBack);
            EXPECT_EQ(d.dlg.m_nConnectInterval, c.wait);
        } else {
            EXPECT_EQ(focus, c.focus);
            EXPECT_TRUE(selected);
        }
    }
}

TEST(PortSettingDialog, KeyboardFollowsTheTemplate)
{
    PortDialog d;
    std::vector<unsigned> tabOrder;
    d.Run([&] {
        for (int i = 0; i < 11; ++i) {
            d.Press(Qt::Key_Tab);
            tabOrder.push_back(d.FocusId());
        }
        // The control after RING送信間隔(&I), Speed(&S), CONNECT送信待ち時間(&W).
        for (const auto& [key, id] :
             {std::pair{Qt::Key_I, IDC_RING_INTERVAL}, std::pair{Qt::Key_S, IDC_SPEED},
              std::pair{Qt::Key_W, IDC_CONNECT_INTERVAL}}) {
            d.Press(key, Qt::AltModifier);
            EXPECT_EQ(d.FocusId(), id) << "Alt+" << char(key);
        }
        d.Press(Qt::Key_U, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !d.Dsr()->isChecked(); }, 5000)) << "Alt+U toggles the box";
        EXPECT_EQ(d.FocusId(), IDC_DSR);
    });
    EXPECT_EQ(tabOrder,
              (std::vector<unsigned>{IDC_DATA, IDC_PARITY, IDC_STOP, IDC_RING, IDC_RING_INTERVAL, IDC_CONNECT,
                                     IDOK, IDCANCEL, IDC_DSR, IDC_CONNECT_INTERVAL, IDC_SPEED}));
}

TEST(PortSettingDialog, EnterPressesOkOrTheFocusedButtonAndEscCancels)
{
    const std::tuple<unsigned, Qt::Key, int> cases[] = {
        {IDC_RING_INTERVAL, Qt::Key_Return, IDOK},
        {IDC_SPEED, Qt::Key_Escape, IDCANCEL},
        {IDCANCEL, Qt::Key_Enter, IDCANCEL},  // as the system's dialogs do
    };
    for (const auto& [focus, key, expected] : cases) {
        SCOPED_TRACE(focus);
        PortDialog d;
        const int result = d.Run([&] {
            d.dlg.GetDlgItem(focus)->setFocus();
            d.Edit(IDC_RING_INTERVAL)->setText("250");
            d.Press(key);
        });
        EXPECT_EQ(result, expected);
        EXPECT_FALSE(d.stillOpen);
        Fields taken = kPlain;
        std::get<kRingInterval>(taken) = expected == IDOK ? 250 : 1000;  // Cancel takes nothing
        EXPECT_EQ(d.Taken(), taken);
    }
}
