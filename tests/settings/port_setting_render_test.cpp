// The COM port settings dialog as drawn: its size from the template, controls
// that do not overlap, and texts that fit their controls in the font that is
// really used. The picture is written under the build folder for a person to
// look at.
#include <QTimer>
#include <gtest/gtest.h>

#include "settings/PortSetting.h"
#include "dialog_look.h"

TEST(PortSettingDialogLook, FitsItsTemplateInAJapaneseFont)
{
    CPortSetting dlg;
    QImage picture;
    std::vector<QWidget*> controls;
    QTimer::singleShot(0, [&] {
        picture = dlg.grab().toImage();
        controls = dialoglook::VisibleControls(&dlg);
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();

    // 202 x 176 dialog units in the font's base units, rounded as MulDiv does.
    const int bx = dlg.BaseUnitX();
    const int by = dlg.BaseUnitY();
    EXPECT_EQ(dlg.width(), (202 * bx + 2) / 4);
    EXPECT_EQ(dlg.height(), (176 * by + 4) / 8);
    ASSERT_EQ(controls.size(), 22u);
    dialoglook::ExpectNoOverlaps(controls);
    dialoglook::ExpectTextsFit(&dlg, controls);
    dialoglook::SavePicture(picture, "port_setting.png");
}
