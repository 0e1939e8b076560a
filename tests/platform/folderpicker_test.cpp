// The real folder chooser, answered through its own dialog.
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/windows/folderpicker.h"
#include "support/pump.h"
#include "support/scratch_files.h"

namespace {

QFileDialog* OpenChooser()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* chooser = qobject_cast<QFileDialog*>(w); chooser != nullptr && chooser->isVisible())
            return chooser;
    return nullptr;
}

}  // namespace

// The event loop keeps running while the chooser is open (a call's timers and
// sockets go on), and the folder chosen comes back as its path.
TEST(FolderPicker, TheLoopRunsWhileTheChooserIsOpenAndItsChoiceComesBack)
{
    scratch::TempDir dir;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    int ticksWhileOpen = 0;
    QTimer::singleShot(0, [&] {
        if (!pump::PumpUntil([] { return OpenChooser() != nullptr; }))
            return;
        const int before = ticks;
        pump::PumpUntil([&] { return ticks >= before + 3; }, 2000);
        ticksWhileOpen = ticks - before;
        QFileDialog* chooser = OpenChooser();
        chooser->setDirectory(QString::fromStdString(dir.Path().string()));
        static_cast<QDialog*>(chooser)->accept();
    });
    std::string path = "untouched";
    ASSERT_TRUE(PickFolder(nullptr, "title", "/", path)) << "no chooser opened, or its choice was lost";
    EXPECT_GE(ticksWhileOpen, 3) << "the event loop stood still while the chooser was open";
    EXPECT_EQ(path, dir.Path().string());
}
