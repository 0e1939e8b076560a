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
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

#include "platform/cp932.h"
#include "platform/msgbox.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "settings/PortSetting.h"
#include "settings/UserCount.h"
#include "resources/ResString.h"

namespace {

std::string Sjis(const char* utf8)
{
    return cp932::FromUtf8(utf8);
}

// A parent window that answers the user-count question and counts the asks.
class ParentWindow : public CDialogEx {
public:
    ParentWindow() : CDialogEx(FindDialogTemplate(IDD_MAIN_DIALOG))
    {
        OnMessage(WM_GETUSERCOUNT, [this](WPARAM, LPARAM) {
            ++asked;
            return LRESULT(users);
        });
    }
    int users = 0;
    int asked = 0;
};

// Records every message box and answers it from a script (IDOK when the
// script is used up).
class Boxes {
public:
    explicit Boxes(std::vector<int> answers = {}) : m_answers(std::move(answers))
    {
        SetMessageBoxHookForTesting([this](const MessageBoxRecord& r) {
            seen.push_back(r);
            if (m_answers.empty())
                return IDOK;
            const int a = m_answers.front();
            m_answers.erase(m_answers.begin());
            return a;
        });
    }
    ~Boxes() { SetMessageBoxHookForTesting({}); }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const MessageBoxRecord& r : seen)
            texts.push_back(r.text);
        return texts;
    }
    std::vector<MessageBoxRecord> seen;

private:
    std::vector<int> m_answers;
};

// A dialog filled as the main window fills it for a plain line.
struct PortDialog {
    explicit PortDialog(CDialogEx* parent = nullptr) : dlg(parent)
    {
        dlg.m_nSpeed = 9600;
        dlg.m_nData = 8;
        dlg.m_nStop = 1;
        dlg.m_nParity = 0;
        dlg.m_nRing = 2;
        dlg.m_nConnect = 1;
        dlg.m_nRingInterval = 1000;
        dlg.m_nConnectInterval = 2000;
        dlg.m_bDsr = 1;
        dlg.m_strPortName = "COM3";
    }

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

    QComboBox* Combo(unsigned id) const { return qobject_cast<QComboBox*>(dlg.GetDlgItem(id)); }
    QLineEdit* Edit(unsigned id) const { return qobject_cast<QLineEdit*>(dlg.GetDlgItem(id)); }
    std::string ComboText(unsigned id) const { return cp932::FromQString(Combo(id)->currentText()); }
    void ClickOk() const { qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->click(); }
    unsigned FocusId() const
    {
        const QWidget* f = QApplication::focusWidget();
        return f != nullptr ? f->objectName().toUInt() : 0;
    }
    // A key as the keyboard delivers it: to the control that has the focus.
    void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) const
    {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr) << "nothing has the keyboard focus";
        QTest::keyClick(target, static_cast<Qt::Key>(key), mods);
    }

    CPortSetting dlg;
    bool stillOpen = false;
};

std::string ExecutableTitle()
{
    return std::filesystem::read_symlink("/proc/self/exe").filename().string();
}

}  // namespace

TEST(PortSettingDialog, ShowsOutOfListValuesAndHandsBackWhatItShows)
{
    // Values a hand-edited korvo.ini can hold: a speed not in the table, data
    // and stop bits other than 8 and 1, RING and CONNECT outside their lists,
    // a DSR flag outside 0 to 2.
    Boxes boxes;
    PortDialog d;
    d.dlg.m_nSpeed = 4800;
    d.dlg.m_nData = 7;
    d.dlg.m_nStop = 2;
    d.dlg.m_nParity = 2;
    d.dlg.m_nRing = 5;
    d.dlg.m_nConnect = -1;
    d.dlg.m_bDsr = 7;
    d.dlg.m_nRingInterval = 300;
    const int result = d.Run([&] {
        EXPECT_EQ(d.dlg.GetWindowText(), Sjis("COM3 設定"));
        EXPECT_EQ(d.ComboText(IDC_SPEED), "38400bps");
        EXPECT_EQ(d.ComboText(IDC_DATA), "7bit");
        EXPECT_EQ(d.ComboText(IDC_STOP), "2bit");
        EXPECT_EQ(d.ComboText(IDC_PARITY), "Even");
        EXPECT_EQ(d.Combo(IDC_RING)->currentIndex(), -1) << "RING 5 has no item";
        EXPECT_EQ(d.Combo(IDC_CONNECT)->currentIndex(), -1);
        EXPECT_FALSE(qobject_cast<QCheckBox*>(d.dlg.GetDlgItem(IDC_DSR))->isChecked());
        EXPECT_EQ(d.Edit(IDC_RING_INTERVAL)->text(), "300");
        EXPECT_TRUE(d.Edit(IDC_RING_INTERVAL)->isEnabled()) << "only 0 RINGs disable the interval";
        EXPECT_FALSE(d.Edit(IDC_CONNECT_INTERVAL)->isEnabled()) << "the wait counts only in mode 1";
        EXPECT_EQ(d.FocusId(), IDC_SPEED) << "the first control has the focus";
        d.ClickOk();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(boxes.seen.empty());
    EXPECT_EQ(d.dlg.m_nSpeed, 38400);
    EXPECT_EQ(d.dlg.m_nData, 7);
    EXPECT_EQ(d.dlg.m_nStop, 2);
    EXPECT_EQ(d.dlg.m_nParity, 2);
    EXPECT_EQ(d.dlg.m_nRing, -1);
    EXPECT_EQ(d.dlg.m_nConnect, -1);
    EXPECT_EQ(d.dlg.m_bDsr, 0);
    EXPECT_EQ(d.dlg.m_nRingInterval, 300);
    EXPECT_EQ(d.dlg.m_nConnectInterval, 2000);
}

TEST(PortSettingDialog, PlainValuesRoundTrip)
{
    PortDialog d;
    d.dlg.m_nSpeed = 115200;
    d.dlg.m_nRing = 0;
    d.dlg.m_bDsr = 2;  // a two-state box shows it set
    const int result = d.Run([&] {
        EXPECT_EQ(d.ComboText(IDC_SPEED), "115200bps");
        EXPECT_EQ(d.ComboText(IDC_DATA), "8bit");
        EXPECT_EQ(d.ComboText(IDC_STOP), "1bit");
        EXPECT_EQ(d.ComboText(IDC_PARITY), "None");
        EXPECT_EQ(d.ComboText(IDC_RING), Sjis("なし"));
        EXPECT_EQ(d.ComboText(IDC_CONNECT), Sjis("ATA受信後"));
        EXPECT_FALSE(d.Edit(IDC_RING_INTERVAL)->isEnabled());
        EXPECT_TRUE(d.Edit(IDC_CONNECT_INTERVAL)->isEnabled());
        d.ClickOk();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(d.dlg.m_nSpeed, 115200);
    EXPECT_EQ(d.dlg.m_nData, 8);
    EXPECT_EQ(d.dlg.m_nStop, 1);
    EXPECT_EQ(d.dlg.m_nRing, 0);
    EXPECT_EQ(d.dlg.m_nConnect, 1);
    EXPECT_EQ(d.dlg.m_bDsr, 1);
}

TEST(PortSettingDialog, ChoosingInTheCombosEnablesTheEditsAtOnce)
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
        d.Press(Qt::Key_End);  // RING送出終了後
        EXPECT_FALSE(wait->isEnabled());
        d.Press(Qt::Key_Up);  // ATA受信後
        EXPECT_TRUE(wait->isEnabled());
        d.Press(Qt::Key_Home);  // なし
        EXPECT_FALSE(wait->isEnabled());
    });
    EXPECT_TRUE(d.stillOpen);
}

TEST(PortSettingDialog, IntervalsAreCheckedAtOk)
{
    const std::string notANumber = Sjis("整数を入力してください。");
    const std::string outOfRange = Sjis("0 から 10000 までの整数を入力してください。");
    struct Case {
        const char* text;
        int value;            // taken when accepted
        std::string message;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {"0", 0, ""},
        {"10000", 10000, ""},
        {"12ms", 12, ""},
        {" \t 7", 7, ""},
        {"10001", 0, outOfRange},
        {"-1", 0, outOfRange},
        {"4294967296", 0, outOfRange},  // must not wrap round to 0
        {"", 0, notANumber},
        {"ms", 0, notANumber},
        {"-", 0, notANumber},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        Boxes boxes;
        PortDialog d;
        bool focusOnEdit = false;
        bool textSelected = false;
        const int result = d.Run([&] {
            d.Edit(IDC_RING_INTERVAL)->setText(QString::fromUtf8(c.text));
            d.ClickOk();
            focusOnEdit = d.FocusId() == IDC_RING_INTERVAL;
            textSelected = d.Edit(IDC_RING_INTERVAL)->selectedText() == QString::fromUtf8(c.text);
        });
        if (c.message.empty()) {
            EXPECT_EQ(result, IDOK);
            EXPECT_EQ(d.dlg.m_nRingInterval, c.value);
            EXPECT_TRUE(boxes.seen.empty());
            continue;
        }
        EXPECT_TRUE(d.stillOpen) << "a rejected value keeps the dialog open";
        ASSERT_EQ(boxes.Texts(), std::vector<std::string>(2, c.message)) << "once by OK, once by the framework";
        EXPECT_EQ(boxes.seen[0].caption, ExecutableTitle());
        EXPECT_EQ(boxes.seen[0].type & 0xF0, MB_ICONEXCLAMATION);
        EXPECT_EQ(boxes.seen[0].owner, static_cast<HWND>(&d.dlg));
        EXPECT_TRUE(focusOnEdit);
        EXPECT_TRUE(textSelected);
    }
}

TEST(PortSettingDialog, ARejectedFieldStopsTheExchange)
{
    // A bad RING interval (the first field) stops the exchange that a new
    // CONNECT choice starts: the fields after it keep their values.
    Boxes boxes;
    PortDialog d;
    d.Run([&] {
        d.Edit(IDC_RING_INTERVAL)->setText("abc");
        d.Combo(IDC_PARITY)->setCurrentIndex(1);
        d.Combo(IDC_CONNECT)->setFocus();
        d.Press(Qt::Key_Home);
        EXPECT_EQ(d.FocusId(), IDC_RING_INTERVAL);
    });
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{Sjis("整数を入力してください。")});
    EXPECT_EQ(d.dlg.m_nConnect, 1);
    EXPECT_EQ(d.dlg.m_nParity, 0);
    EXPECT_EQ(d.dlg.m_nRingInterval, 1000);
}

TEST(PortSettingDialog, AnIntervalTooLargeFromTheFileIsShownThenRefused)
{
    Boxes boxes;
    PortDialog d;
    d.dlg.m_nConnectInterval = 20000;
    d.Run([&] {
        EXPECT_EQ(d.Edit(IDC_CONNECT_INTERVAL)->text(), "20000") << "shown unchanged, without a message";
        EXPECT_TRUE(boxes.seen.empty());
        d.ClickOk();
        EXPECT_EQ(d.FocusId(), IDC_CONNECT_INTERVAL);
    });
    EXPECT_TRUE(d.stillOpen);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>(2, Sjis("0 から 10000 までの整数を入力してください。")));
}

TEST(PortSettingDialog, OkAsksWhileUsersAreConnectedOnlyWhenToldTo)
{
    const std::string question = Sjis("接続中のユーザーがいます。\r\n強制切断されますが、設定変更してもよいですか？");
    {
        // Asked even with nothing changed; No keeps the dialog and its edits.
        ParentWindow parent;
        parent.users = 1;
        Boxes boxes({IDNO, IDYES});
        PortDialog d(&parent);
        d.dlg.m_bConfirm = true;
        const int result = d.Run([&] {
            d.ClickOk();
            EXPECT_TRUE(d.dlg.isVisible()) << "No leaves the dialog open";
            d.Edit(IDC_RING_INTERVAL)->setText("750");
            d.ClickOk();
        });
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(d.dlg.m_nRingInterval, 750);
        EXPECT_EQ(parent.asked, 2);
        ASSERT_EQ(boxes.Texts(), std::vector<std::string>(2, question));
        EXPECT_EQ(boxes.seen[0].caption, "Varnex - Skiffa");
        EXPECT_EQ(boxes.seen[0].type, MB_YESNO | MB_ICONQUESTION);
    }
    {
        ParentWindow parent;  // nobody connected
        Boxes boxes;
        PortDialog d(&parent);
        d.dlg.m_bConfirm = true;
        EXPECT_EQ(d.Run([&] { d.ClickOk(); }), IDOK);
        EXPECT_EQ(parent.asked, 1);
        EXPECT_TRUE(boxes.seen.empty());
    }
    {
        ParentWindow parent;  // opened from the port pool editor
        parent.users = 3;
        Boxes boxes;
        PortDialog d(&parent);
        EXPECT_EQ(d.Run([&] { d.ClickOk(); }), IDOK);
        EXPECT_EQ(parent.asked, 0) << "nothing is sent to the parent";
        EXPECT_TRUE(boxes.seen.empty());
    }
}

TEST(PortSettingDialog, ARejectedFieldAtOkFramesTheQuestion)
{
    const std::string notANumber = Sjis("整数を入力してください。");
    const std::string question = Sjis("接続中のユーザーがいます。\r\n強制切断されますが、設定変更してもよいですか？");
    for (const int answer : {IDYES, IDNO}) {
        ParentWindow parent;
        parent.users = 1;
        Boxes boxes({IDOK, answer});
        PortDialog d(&parent);
        d.dlg.m_bConfirm = true;
        d.Run([&] {
            d.Edit(IDC_CONNECT_INTERVAL)->clear();
            d.ClickOk();
        });
        EXPECT_TRUE(d.stillOpen);
        const std::vector<std::string> expected = answer == IDYES
            ? std::vector<std::string>{notANumber, question, notANumber}
            : std::vector<std::string>{notANumber, question};
        EXPECT_EQ(boxes.Texts(), expected) << "answer " << answer;
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
        d.Press(Qt::Key_I, Qt::AltModifier);
        EXPECT_EQ(d.FocusId(), IDC_RING_INTERVAL) << "Alt+I: the edit after RING送信間隔(&I)";
        d.Press(Qt::Key_S, Qt::AltModifier);
        EXPECT_EQ(d.FocusId(), IDC_SPEED) << "Alt+S: the combo after Speed(&S)";
        d.Press(Qt::Key_W, Qt::AltModifier);
        EXPECT_EQ(d.FocusId(), IDC_CONNECT_INTERVAL);
        auto* dsr = qobject_cast<QCheckBox*>(d.dlg.GetDlgItem(IDC_DSR));
        d.Press(Qt::Key_U, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dsr->isChecked(); }, 5000)) << "Alt+U toggles the box";
        EXPECT_EQ(d.FocusId(), IDC_DSR);
    });
    EXPECT_EQ(tabOrder, (std::vector<unsigned>{IDC_DATA, IDC_PARITY, IDC_STOP, IDC_RING, IDC_RING_INTERVAL,
                                               IDC_CONNECT, IDOK, IDCANCEL, IDC_DSR, IDC_CONNECT_INTERVAL,
                                               IDC_SPEED}));
}

TEST(PortSettingDialog, EnterPressesOkAndEscCancels)
{
    {
        PortDialog d;
        const int result = d.Run([&] {
            d.Edit(IDC_RING_INTERVAL)->setFocus();
            d.Edit(IDC_RING_INTERVAL)->setText("250");
            d.Press(Qt::Key_Return);
        });
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(d.dlg.m_nRingInterval, 250);
    }
    {
        PortDialog d;
        const int result = d.Run([&] {
            d.Edit(IDC_RING_INTERVAL)->setText("250");
            d.Press(Qt::Key_Escape);
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(d.dlg.m_nRingInterval, 1000) << "Cancel takes nothing";
        EXPECT_FALSE(d.stillOpen);
    }
    {
        // Enter on a push button presses that button, as the system's dialogs do.
        PortDialog d;
        const int result = d.Run([&] {
            d.dlg.GetDlgItem(IDCANCEL)->setFocus();
            d.Press(Qt::Key_Enter);
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_FALSE(d.stillOpen);
    }
}
