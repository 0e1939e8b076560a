// The main window's settings button and command open the general settings
// dialog filled from the main dialog's settings and lines.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "support/memserial.h"
#include "platform/base/module.h"
#include "platform/windows/msgbox.h"
#include "resources/resource.h"
#include "settings/Setting.h"
#include "support/scratch_files.h"
#include "maindlg/SkiffaDlg.h"

TEST(SettingsButton, OpensTheDialogFilledFromTheMainDialog)
{
    scratch::TempDir dir{"skiffa-settings-button-"};
    SetModuleFileNameForTesting(dir.File("skiffa"));
    scratch::WriteBytes(
        dir.File("korvo.ini"),
        "[SERVER]\nPORT=0\n[TIME]\nNO_COMM=30\nLIMIT=600\nKEEP=5\n"
        "[TEXT]\nCHECK1=\\r\\nNO CARRIER\nCHECK2=BYE\nAFTER=ATH\\r\nFULL=busy\n"
        "[LOG]\nENABLE=1\nDIR=/tmp/skiffa-logs\n[COM1]\nNAME=COM81\nSPEED=9600\n[COM2]\nNAME=COM82\n");
    for (const char* name : {"COM81", "COM82"})
        MemSerialDevice::Register(name)->SetDsr(true);
    SetMessageBoxHookForTesting([](const MessageBoxRecord&) { return IDOK; });
    CSkiffaDlg main;
    std::vector<std::string> seen;
    // Reads the open dialog's fields and pool, then cancels it.
    auto readAndCancel = [&] {
        CSetting* dlg = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = dynamic_cast<CSetting*>(w); d != nullptr && d->isVisible())
                dlg = d;
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->GetParent(), static_cast<HWND>(&main));
        auto text = [&](unsigned id) {
            return qobject_cast<QLineEdit*>(dlg->GetDlgItem(id))->text().toStdString();
        };
        auto* used = qobject_cast<QListWidget*>(dlg->GetDlgItem(IDC_USE_PORTS));
        seen = {qobject_cast<QComboBox*>(dlg->GetDlgItem(IDC_TCP_PORT))->currentText().toStdString(),
                text(IDC_NOCOMM_TIME),
                text(IDC_LIMIT_TIME),
                text(IDC_KEEP_TIME),
                dlg->m_strCheck[0],
                dlg->m_strCheck[1],
                dlg->m_strAfter,
                dlg->m_strFull,
                text(IDC_LOG_DIR),
                std::to_string(dlg->m_bLog),
                used->item(0)->text().toStdString(),
                used->item(1)->text().toStdString(),
                std::to_string(dlg->m_aUsePort[0].m_nSpeed)};
        EXPECT_EQ(dlg->m_aUsePort[0].m_pComm, nullptr) << "the dialog gets settings, not the open port";
        qobject_cast<QPushButton*>(dlg->GetDlgItem(IDCANCEL))->click();
    };
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(QTest::qWaitForWindowActive(&main));
        for (const bool byCommand : {false, true}) {
            seen.clear();
            QTimer::singleShot(0, readAndCancel);
            if (byCommand)
                main.SendMessage(WM_COMMAND, ID_SETTING, 0);
            else
                qobject_cast<QPushButton*>(main.GetDlgItem(IDC_SETTING))->click();
            EXPECT_EQ(seen,
                      (std::vector<std::string>{"0", "30", "600", "5", "\r\nNO CARRIER", "BYE", "ATH\r",
                                                "busy", "/tmp/skiffa-logs", "1", "COM81", "COM82", "9600"}))
                << (byCommand ? "command 32773" : "button 1007");
        }
        main.PostMessage(WM_CLOSE, 0, 0);
    });
    main.DoModal();
    SetMessageBoxHookForTesting({});
    for (const char* name : {"COM81", "COM82"})
        MemSerialDevice::Unregister(name);
    SetModuleFileNameForTesting("");
}
