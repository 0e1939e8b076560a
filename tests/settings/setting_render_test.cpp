// The general settings dialog as drawn, with a pool port selected so that
// its summary shows: the size from the template, no overlaps, no text cut
// off; the picture goes under the build folder.
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "support/memserial.h"
#include "resources/resource.h"
#include "settings/Setting.h"
#include "dialog_look.h"

TEST(SettingDialogLook, FitsItsTemplateInAJapaneseFont)
{
    MemSerialDevice::Register("COM50");
    CSetting dlg;
    dlg.m_nNoCommTime = 600;
    dlg.m_nKeepTime = 10;
    dlg.m_nPort = 23;
    dlg.m_bLog = 1;
    dlg.m_strLogDir = "/var/log/skiffa";
    dlg.m_strCheck[0] = "\r\nNO CARRIER";
    // The longest summary a port from the settings dialog can have.
    CPortInfo port = CPortInfo::FromNewPortDefaults("COM10");
    port.m_nSpeed = 115200;
    port.m_nConnect = CONNECT_AFTER_RING;
    port.m_nConnectInterval = 10000;
    port.m_nRingInterval = 10000;
    dlg.SetPorts({port, CPortInfo::FromNewPortDefaults("COM11")});
    QImage picture;
    std::vector<QWidget*> controls;
    QTimer::singleShot(0, [&] {
        auto* used = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_USE_PORTS));
        QTest::mouseClick(used->viewport(), Qt::LeftButton, Qt::NoModifier,
                          used->visualItemRect(used->item(0)).center());
        picture = dlg.grab().toImage();
        controls = dialoglook::VisibleControls(&dlg);
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
    MemSerialDevice::Unregister("COM50");

    EXPECT_EQ(dlg.width(), (436 * dlg.BaseUnitX() + 2) / 4);
    EXPECT_EQ(dlg.height(), (357 * dlg.BaseUnitY() + 4) / 8);
    ASSERT_EQ(controls.size(), 40u) << "every control but the hidden debug box";
    dialoglook::ExpectNoOverlaps(controls);
    dialoglook::ExpectTextsFit(&dlg, controls);
    dialoglook::SavePicture(picture, "setting.png");
}
