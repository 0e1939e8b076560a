// The general settings dialog driven for real on the offscreen platform: the
// TCP port box, the refused fields, the question at OK, the keyboard, the log
// folder, and the port pool editor on memory serial devices.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <tuple>

#include "platform/comm/comm.h"
#include "platform/system/cp932.h"
#include "platform/windows/folderpicker.h"
#include "support/memserial.h"
#include "platform/windows/msgbox.h"
#include "resources/dialogs.h"
#include "resources/resource.h"
#include "settings/PortSetting.h"
#include "settings/Setting.h"
#include "settings/UserCount.h"

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

// The dialog over COM47 and COM48 (present), COM49 (present, but held open by
// someone else), with COM48 (9600 bps) and COM99 (absent, 19200) in the pool.
class SettingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"COM47", "COM48", "COM49"})
            MemSerialDevice::Register(name);
        m_held = CreateCommFileA("\\\\.\\COM49");
        SetMessageBoxHookForTesting([this](const MessageBoxRecord& r) {
            boxes.push_back(r.text);
            const int answer = answers.empty() ? IDOK : answers.front();
            if (!answers.empty())
                answers.erase(answers.begin());
            return answer;
        });
        Fresh();
    }
    void TearDown() override
    {
        SetMessageBoxHookForTesting({});
        SetFolderPickerHookForTesting({});
        CloseHandle(m_held);
        for (const char* name : {"COM47", "COM48", "COM49"})
            MemSerialDevice::Unregister(name);
    }
    // A new dialog, filled as the main window fills it.
    void Fresh()
    {
        owned = std::make_unique<CSetting>(&parent);
        dlg = owned.get();
        dlg->m_nNoCommTime = 60;
        dlg->m_nKeepTime = 10;
        dlg->m_nPort = 23;
        CPortInfo com48 = CPortInfo::FromSectionDefaults("COM48");
        com48.m_nSpeed = 9600;
        com48.m_sock = 7;  // a caller's socket must not travel
        CPortInfo com99 = CPortInfo::FromSectionDefaults("COM99");
        com99.m_nSpeed = 19200;
        dlg->SetPorts({com48, com99});
    }

    // Runs the dialog; `drive` acts inside its modal loop. A dialog still
    // open afterwards is noted and cancelled.
    int Run(const std::function<void()>& drive)
    {
        QTimer::singleShot(0, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowActive(dlg));
            drive();
            stillOpen = dlg->isVisible();
            if (stillOpen)
                dlg->EndDialog(IDCANCEL);
        });
        return dlg->DoModal();
    }

    template <class W> W* Item(unsigned id) const { return qobject_cast<W*>(dlg->GetDlgItem(id)); }
    QLineEdit* Edit(unsigned id) const { return Item<QLineEdit>(id); }
    void Click(unsigned id) const { Item<QPushButton>(id)->click(); }
    unsigned FocusId() const { return QApplication::focusWidget()->objectName().toUInt(); }
    void Press(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) const
    {
        w->setFocus();
        QTest::keyClick(w, key, mods);
    }
    std::vector<std::string> Entries(unsigned listId) const
    {
        std::vector<std::string> names;
        for (int i = 0; i < Item<QListWidget>(listId)->count(); ++i)
            names.push_back(Item<QListWidget>(listId)->item(i)->text().toStdString());
        return names;
    }
    // Clicks an entry as the user would.
    void ClickEntry(unsigned listId, int row) const
    {
        QListWidget* list = Item<QListWidget>(listId);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
    int Selected(unsigned listId) const
    {
        const QList<QListWidgetItem*> items = Item<QListWidget>(listId)->selectedItems();
        return items.isEmpty() ? -1 : Item<QListWidget>(listId)->row(items.front());
    }

    HANDLE m_held = INVALID_HANDLE_VALUE;
    ParentWindow parent;
    std::unique_ptr<CSetting> owned;
    CSetting* dlg = nullptr;
    std::vector<std::string> boxes;
    std::vector<int> answers;
    bool stillOpen = false;
};

}  // namespace

TEST_F(SettingTest, PortBoxShowsTelnetOrDigitsAndOkReadsItsText)
{
    for (const auto& [port, text, item] : {std::tuple{23, "telnet", 0}, std::tuple{2323, "2323", -1}}) {
        Fresh();
        dlg->m_nPort = port;
        Run([&] {
            EXPECT_EQ(Item<QComboBox>(IDC_TCP_PORT)->currentText(), text);
            EXPECT_EQ(Item<QComboBox>(IDC_TCP_PORT)->currentIndex(), item);
            EXPECT_EQ(FocusId(), IDC_TCP_PORT) << "the first control has the focus";
        });
    }
    for (const auto& [text, port] : std::vector<std::pair<const char*, int>>{
             {"telnet", 23}, {"23", 23}, {"Telnet", 0}, {"", 0}, {"2323abc", 2323}, {"70000", 70000}}) {
        Fresh();
        dlg->m_nPort = 1;
        EXPECT_EQ(Run([&] {
                      Item<QComboBox>(IDC_TCP_PORT)->setEditText(text);
                      Click(IDOK);
                  }),
                  IDOK);
        EXPECT_EQ(dlg->m_nPort, port) << '"' << text << '"';
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SettingTest, RefusedFieldsShowTheirMessageTwiceAndKeepTheDialog)
{
    Run([&] {
        Edit(IDC_NOCOMM_TIME)->setText("30");
        Edit(IDC_LIMIT_TIME)->clear();
        Edit(IDC_KEEP_TIME)->setText("77");
        Click(IDOK);
        EXPECT_EQ(FocusId(), IDC_LIMIT_TIME);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(boxes, std::vector<std::string>(2, Sjis("整数を入力してください。")));
    EXPECT_EQ(dlg->m_nNoCommTime, 30) << "fields before the refused one are taken";
    EXPECT_EQ(dlg->m_nKeepTime, 10) << "fields after it are not";

    // 2048 bytes, a line break counting two, pass; 2049 do not, though the
    // refused text has only 1026 characters.
    boxes.clear();
    std::string fits;
    for (int i = 0; i < 1023; ++i)
        fits += Sjis("あ");
    fits += "\r\n";
    Fresh();
    dlg->m_strCheck[0] = fits;
    dlg->m_strCheck[1] = fits.substr(0, 2046) + "abc";
    Run([&] {
        auto* check1 = Item<QPlainTextEdit>(IDC_CHECK1);
        check1->moveCursor(QTextCursor::End);
        Press(check1, Qt::Key_X);
        EXPECT_EQ(GetEditText(check1), fits) << "the edit takes nothing past 2048 bytes";
        Click(IDOK);
        EXPECT_EQ(FocusId(), IDC_CHECK2);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(boxes, std::vector<std::string>(2, Sjis("2048 文字以内で入力してください。")));
    EXPECT_EQ(dlg->m_strCheck[0], fits);
}

TEST_F(SettingTest, QuestionOnlyWhenThePoolChangedWhileUsersAreConnected)
{
    parent.users = 1;
    // Texts come back byte for byte, lone CR and LF included.
    dlg->m_strAfter = "bye\rnow\nthen\r\n";
    dlg->m_strFull = Sjis("満杯です\r\n");
    dlg->m_bTray = 3;
    dlg->m_bDebugLog = 2;
    EXPECT_EQ(Run([&] {
                  Edit(IDC_KEEP_TIME)->setText("5");
                  Click(IDOK);
              }),
              IDOK);
    EXPECT_TRUE(boxes.empty()) << "only a time changed";
    EXPECT_EQ(parent.asked, 1);
    EXPECT_EQ(dlg->m_nKeepTime, 5);
    EXPECT_EQ(dlg->m_strAfter, "bye\rnow\nthen\r\n");
    EXPECT_EQ(dlg->m_strFull, Sjis("満杯です\r\n"));
    EXPECT_EQ(dlg->m_bTray, 0) << "3 is shown as a clear box";
    EXPECT_EQ(dlg->m_bDebugLog, 2) << "carried through the hidden box unchanged";

    // A port added and removed again: the lists look as before, yet it counts.
    Fresh();
    answers = {IDNO, IDYES};
    EXPECT_EQ(Run([&] {
                  ClickEntry(IDC_FREE_PORTS, 0);
                  Click(IDC_POOL_ADD);
                  ClickEntry(IDC_USE_PORTS, 2);
                  Click(IDC_POOL_DELETE);
                  Edit(IDC_KEEP_TIME)->setText("8");
                  Click(IDOK);
                  EXPECT_TRUE(dlg->isVisible()) << "No keeps the dialog open";
                  EXPECT_EQ(Edit(IDC_KEEP_TIME)->text(), "8") << "with the user's entries";
                  EXPECT_EQ(dlg->m_nKeepTime, 10) << "nothing taken";
                  Click(IDOK);
              }),
              IDOK);
    EXPECT_EQ(boxes,
              std::vector<std::string>(
                  2, Sjis("接続中のユーザーがいます。\r\n強制切断されますが、設定変更してもよいですか？")));
    EXPECT_EQ(dlg->m_nKeepTime, 8);

    Fresh();
    parent.users = 0;
    boxes.clear();
    EXPECT_EQ(Run([&] {
                  ClickEntry(IDC_USE_PORTS, 0);
                  Click(IDC_POOL_DELETE);
                  Click(IDOK);
              }),
              IDOK);
    EXPECT_TRUE(boxes.empty()) << "nobody connected";
}

TEST_F(SettingTest, EnterAndEscActOnlyInTheMultiLineEdits)
{
    dlg->m_bLog = 1;
    EXPECT_EQ(Run([&] {
                  auto* check1 = Item<QPlainTextEdit>(IDC_CHECK1);
                  for (const Qt::Key key : {Qt::Key_A, Qt::Key_Return, Qt::Key_B})
                      Press(check1, key);
                  Press(check1, Qt::Key_Return, Qt::AltModifier);
                  EXPECT_EQ(GetEditText(check1), "a\r\nb") << "Enter starts a new line, Alt+Enter does not";
                  Press(Edit(IDC_NOCOMM_TIME), Qt::Key_Return,
                        Qt::AltModifier);  // a system key: not the dialog's Enter
                  for (unsigned id :
                       {unsigned(IDOK), IDC_USE_PORTS, IDC_NOCOMM_TIME, IDC_LOG_DIR, IDC_TCP_PORT, IDC_LOG})
                      for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape})
                          Press(dlg->GetDlgItem(id), key);
                  Press(Edit(IDC_NOCOMM_TIME), Qt::Key_X);
                  EXPECT_EQ(Edit(IDC_NOCOMM_TIME)->text(), "60") << "digits only";
                  EXPECT_TRUE(dlg->isVisible());
                  // The label mnemonics move to the control after each label.
                  for (const auto& [key, id] :
                       std::vector<std::pair<Qt::Key, unsigned>>{{Qt::Key_N, IDC_NOCOMM_TIME},
                                                                 {Qt::Key_C, IDC_LIMIT_TIME},
                                                                 {Qt::Key_K, IDC_KEEP_TIME},
                                                                 {Qt::Key_U, IDC_CHECK1},
                                                                 {Qt::Key_S, IDC_CHECK2},
                                                                 {Qt::Key_P, IDC_AFTER},
                                                                 {Qt::Key_E, IDC_FULL},
                                                                 {Qt::Key_F, IDC_LOG_DIR}}) {
                      QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
                      EXPECT_EQ(FocusId(), id) << "Alt+" << char(key);
                  }
                  Press(Item<QPlainTextEdit>(IDC_CHECK2), Qt::Key_Escape);  // the dialog's Esc: Cancel
              }),
              IDCANCEL);
    EXPECT_FALSE(stillOpen);
    EXPECT_TRUE(boxes.empty());

    // Tab walks the template's order, past disabled buttons and the hidden
    // box; Enter in the FULL edit is the dialog's Enter, which presses OK.
    Fresh();
    dlg->m_bLog = 1;
    std::vector<unsigned> order;
    EXPECT_EQ(Run([&] {
                  for (int i = 0; i < 16; ++i) {
                      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                      order.push_back(FocusId());
                  }
                  Press(Item<QPlainTextEdit>(IDC_FULL), Qt::Key_Return);
              }),
              IDOK);
    EXPECT_EQ(order,
              (std::vector<unsigned>{IDC_FREE_PORTS, IDC_USE_PORTS, IDC_NOCOMM_TIME, IDC_LIMIT_TIME,
                                     IDC_KEEP_TIME, IDC_CHECK1, IDC_CHECK2, IDC_AFTER, IDC_FULL, IDC_LOG,
                                     IDC_LOG_DIR, IDC_BROWSE, IDC_TRAY, IDOK, IDCANCEL, IDC_TCP_PORT}));
}

// What the dialog gives the focus to, at opening, by a mnemonic or by Tab,
// has its whole text selected, so typing replaces it; a click puts the caret
// where it lands.
TEST_F(SettingTest, TypingReplacesAFieldTheDialogFocused)
{
    dlg->m_nPort = 23;
    dlg->m_nLimitTime = 30;
    dlg->m_strCheck[0] = "NO CARRIER";
    Run([&] {
        QTest::keyClicks(QApplication::focusWidget(), "2401");
        EXPECT_EQ(Item<QComboBox>(IDC_TCP_PORT)->currentText().toStdString(), "2401") << "at opening";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_N, Qt::AltModifier);
        QTest::keyClicks(QApplication::focusWidget(), "5");
        EXPECT_EQ(Edit(IDC_NOCOMM_TIME)->text().toStdString(), "5") << "by a mnemonic";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_U, Qt::AltModifier);
        QTest::keyClicks(QApplication::focusWidget(), "BYE");
        EXPECT_EQ(GetEditText(Item<QPlainTextEdit>(IDC_CHECK1)), "BYE") << "a multi-line edit";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QTest::keyClicks(QApplication::focusWidget(), "7");
        EXPECT_EQ(Edit(IDC_KEEP_TIME)->text().toStdString(), "7") << "by Tab";
        QTest::mouseClick(Edit(IDC_LIMIT_TIME), Qt::LeftButton, {}, QPoint(2, 5));
        QTest::keyClicks(QApplication::focusWidget(), "1");
        EXPECT_EQ(Edit(IDC_LIMIT_TIME)->text().toStdString(), "130") << "a click selects nothing";
        // The dialog activated again after another window keeps every caret.
        QWidget other;
        other.show();
        for (unsigned id : {IDC_LIMIT_TIME, IDC_CHECK1, IDC_TCP_PORT}) {
            dlg->GetDlgItem(id)->setFocus(Qt::MouseFocusReason);
            other.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
            dlg->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(dlg));
            QTest::keyClicks(QApplication::focusWidget(), "9");
        }
        EXPECT_EQ(Edit(IDC_LIMIT_TIME)->text().toStdString(), "1930");
        EXPECT_EQ(GetEditText(Item<QPlainTextEdit>(IDC_CHECK1)), "BYE9");
        EXPECT_EQ(Item<QComboBox>(IDC_TCP_PORT)->currentText().toStdString(), "24019");
    });
}

// Once Tab has moved on from a multi-line edit, nothing of it looks selected.
TEST_F(SettingTest, MultiLineEditShowsNoSelectionWithoutTheFocus)
{
    dlg->m_strCheck[0] = "NO CARRIER";
    Run([&] {
        auto* check1 = Item<QPlainTextEdit>(IDC_CHECK1);
        check1->setFocus(Qt::TabFocusReason);
        QTest::keyClick(check1, Qt::Key_Tab);
        const QImage shown = check1->viewport()->grab().toImage();
        const QColor highlight = QApplication::palette().color(QPalette::Inactive, QPalette::Highlight);
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                ASSERT_NE(shown.pixelColor(x, y), highlight) << x << ", " << y;
    });
}

TEST_F(SettingTest, LogSwitchAndFolderChoice)
{
    dlg->m_bLog = 1;
    dlg->m_strLogDir = "/var/log/skiffa";
    std::vector<QString> chosen = {QString(), QString::fromUtf8("/tmp/\xF0\x9F\x98\x80"), "/tmp/chosen"};
    std::vector<FolderPickerRequest> requests;
    SetFolderPickerHookForTesting([&](const FolderPickerRequest& r) {
        requests.push_back(r);
        return chosen[requests.size() - 1];
    });
    EXPECT_EQ(Run([&] {
                  Item<QCheckBox>(IDC_LOG)->click();
                  EXPECT_FALSE(Edit(IDC_LOG_DIR)->isEnabled());
                  EXPECT_EQ(Edit(IDC_LOG_DIR)->text(), "/var/log/skiffa") << "unticking keeps the text";
                  Edit(IDC_KEEP_TIME)->setText("99");
                  Click(IDC_BROWSE);  // cancelled
                  Click(IDC_BROWSE);  // a path the code page cannot hold
                  EXPECT_EQ(Edit(IDC_KEEP_TIME)->text(), "99") << "a failed choice reloads nothing";
                  Click(IDC_BROWSE);
                  EXPECT_EQ(Edit(IDC_LOG_DIR)->text(), "/tmp/chosen");
                  EXPECT_EQ(Edit(IDC_KEEP_TIME)->text(), "10") << "every control is reloaded from its member";
                  Click(IDOK);
              }),
              IDOK);
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].owner, static_cast<HWND>(dlg));
    EXPECT_EQ(requests[0].title.toStdString(), "ログを保存するフォルダを選択してください。");
    EXPECT_EQ(dlg->m_strLogDir, "/tmp/chosen");
    EXPECT_EQ(dlg->m_bLog, 0);
}

TEST_F(SettingTest, PoolListsAtOpeningAndTheSummary)
{
    std::vector<std::string> free, used;
    std::string summary;
    Run([&] {
        free = Entries(IDC_FREE_PORTS);
        used = Entries(IDC_USE_PORTS);
        ClickEntry(IDC_FREE_PORTS,
                   static_cast<int>(std::find(free.begin(), free.end(), "COM47") - free.begin()));
        Click(IDC_POOL_ADD);
        ClickEntry(IDC_USE_PORTS, 2);
        summary = dlg->m_staticPortInfo.GetWindowText();
    });
    EXPECT_EQ(used, (std::vector<std::string>{"COM48", "COM99"})) << "an absent pool port is still listed";
    EXPECT_EQ(std::count(free.begin(), free.end(), "COM47"), 1);
    EXPECT_EQ(std::count(free.begin(), free.end(), "COM48"), 0) << "in the pool already";
    EXPECT_EQ(std::count(free.begin(), free.end(), "COM49"), 0) << "held open by someone else";
    EXPECT_EQ(summary, Sjis("Speed=38400bps\r\nData=8bit,Stop=1bit\r\nParity=None\r\nRing=2回(1000ms)\r\n"
                            "Connect=ATA受信後(0ms)\r\nDSR OFF=回線切断"));

    CPortInfo odd = CPortInfo::FromNewPortDefaults("COM1");
    odd.m_nParity = 3;
    odd.m_nRing = 4;
    odd.m_nConnect = -1;
    odd.m_bDsr = 0;
    EXPECT_EQ(PortInfoSummary(odd),
              Sjis("Speed=38400bps\r\nData=8bit,Stop=1bit\r\nParity=\r\nRing=(1000ms)\r\n"
                   "Connect=(0ms)\r\nDSR OFF=回線維持"))
        << "values without a text of their own show none, not a neighbour's";
}

TEST_F(SettingTest, PortSettingsButtonEditsThePoolPortWithoutAsking)
{
    parent.users = 2;
    std::vector<bool> changed;
    Run([&] {
        for (const int button : {IDCANCEL, IDOK, IDOK}) {
            QTimer::singleShot(0, [&, button] {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    auto* port = dynamic_cast<CPortSetting*>(w);
                    if (port == nullptr || !port->isVisible())
                        continue;
                    EXPECT_EQ(port->GetWindowText(), Sjis("COM99 設定"));
                    if (changed.size() == 2)
                        qobject_cast<QComboBox*>(port->GetDlgItem(IDC_SPEED))->setCurrentIndex(4);
                    qobject_cast<QPushButton*>(port->GetDlgItem(static_cast<UINT>(button)))->click();
                }
            });
            ClickEntry(IDC_USE_PORTS, 1);
            Click(IDC_POOL_SETTING);
            changed.push_back(dlg->m_bChanged);
        }
        EXPECT_EQ(dlg->m_staticPortInfo.GetWindowText().substr(0, 17), "Speed=115200bps\r\n");
    });
    EXPECT_EQ(changed, (std::vector<bool>{false, true, true}))
        << "cancel, confirm unchanged, confirm changed";
    EXPECT_EQ(parent.asked, 0) << "the port dialog asks no question of its own";
    std::vector<CPortInfo> ports;
    dlg->GetPorts(ports);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[1].m_nSpeed, 115200);
    EXPECT_EQ(ports[0].m_sock, INVALID_SOCKET) << "no run-time state travels";
}

TEST_F(SettingTest, RandomPoolEditsKeepListsVectorsAndButtonsInStep)
{
    std::mt19937 random(20240610);
    std::map<std::string, int> speedOf{{"COM48", 9600}, {"COM99", 19200}};  // settings travel with their port
    Run([&] {
        for (const CPortInfo& p : dlg->m_aFreePort)
            speedOf[p.m_strName] = p.m_nSpeed;
        const unsigned buttons[] = {IDC_POOL_ADD, IDC_POOL_DELETE, IDC_POOL_UP, IDC_POOL_DOWN};
        for (int step = 0; step < 400; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            const unsigned pick = random() % 6;
            const bool wasChanged = dlg->m_bChanged;
            const int freeSel = Selected(IDC_FREE_PORTS), useSel = Selected(IDC_USE_PORTS);
            const std::string freeName = freeSel < 0 ? "" : dlg->m_aFreePort[size_t(freeSel)].m_strName;
            const std::string useName = useSel < 0 ? "" : dlg->m_aUsePort[size_t(useSel)].m_strName;
            const size_t usedBefore = dlg->m_aUsePort.size();
            if (pick >= 4) {
                const unsigned listId = pick == 4 ? IDC_FREE_PORTS : IDC_USE_PORTS;
                if (const int count = Item<QListWidget>(listId)->count(); count > 0)
                    ClickEntry(listId, static_cast<int>(random() % static_cast<unsigned>(count)));
            } else {
                // As the command arrives, whether or not its button is enabled.
                dlg->SendMessage(WM_COMMAND, (BN_CLICKED << 16) | buttons[pick], 0);
            }
            const int used = Selected(IDC_USE_PORTS);
            const bool moved = pick < 2 ? dlg->m_aUsePort.size() != usedBefore : pick < 4 && used != useSel;
            EXPECT_EQ(dlg->m_bChanged, wasChanged || moved);
            if (moved && pick < 2) {
                EXPECT_EQ((pick == 0 ? dlg->m_aUsePort : dlg->m_aFreePort).back().m_strName,
                          pick == 0 ? freeName : useName)
                    << "the moved port goes to the end";
                EXPECT_EQ(Selected(pick == 0 ? IDC_FREE_PORTS : IDC_USE_PORTS), -1)
                    << "its list loses the selection";
            } else if (moved) {
                EXPECT_EQ(used, useSel + (pick == 2 ? -1 : 1));
                EXPECT_EQ(dlg->m_aUsePort[size_t(used)].m_strName, useName)
                    << "the moved port stays selected";
            }
            for (const auto& [listId, ports] :
                 {std::pair{IDC_FREE_PORTS, &dlg->m_aFreePort}, std::pair{IDC_USE_PORTS, &dlg->m_aUsePort}}) {
                const std::vector<std::string> names = Entries(listId);
                ASSERT_EQ(names.size(), ports->size());
                for (size_t i = 0; i < names.size(); ++i) {
                    EXPECT_EQ(names[i], (*ports)[i].m_strName);
                    EXPECT_EQ((*ports)[i].m_nSpeed, speedOf[names[i]]) << names[i];
                }
            }
            const int last = static_cast<int>(dlg->m_aUsePort.size()) - 1;
            EXPECT_EQ(dlg->m_btnAdd.IsWindowEnabled() != 0, Selected(IDC_FREE_PORTS) >= 0);
            EXPECT_EQ(dlg->m_btnDelete.IsWindowEnabled() != 0, used >= 0);
            EXPECT_EQ(dlg->m_btnPortSetting.IsWindowEnabled() != 0, used >= 0);
            EXPECT_EQ(dlg->m_btnUp.IsWindowEnabled() != 0, used > 0);
            EXPECT_EQ(dlg->m_btnDown.IsWindowEnabled() != 0, used >= 0 && used < last);
            if (used >= 0) {
                EXPECT_EQ(dlg->m_staticPortInfo.GetWindowText(),
                          PortInfoSummary(dlg->m_aUsePort[size_t(used)]));
            }
        }
    });
}
