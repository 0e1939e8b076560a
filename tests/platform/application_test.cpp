// The event loop the application object runs on, and the folder chooser that
// must work on it.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/folderpicker.h"
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

// The tests' application object is made as the program's is.
TEST(Application, RunsOnQtsOwnLoopWithoutLeavingTheChoiceToChildren)
{
    const QString loop = QAbstractEventDispatcher::instance()->metaObject()->className();
    EXPECT_FALSE(loop.contains("Glib", Qt::CaseInsensitive)) << loop.toStdString();
    EXPECT_FALSE(qEnvironmentVariableIsSet("QT_NO_GLIB")) << "programs started later would inherit it";
}

// The real chooser is Qt's own dialog, so the loop keeps running while it is
// open (a call's timers and sockets go on), and its choice comes back.
TEST(Application, FolderChooserIsQtsOwnAndTheLoopRunsWhileItIsOpen)
{
    scratch::TempDir dir;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    bool native = true;
    QTimer::singleShot(0, [&] {
        if (!pump::PumpUntil([] { return OpenChooser() != nullptr; }))
            return;
        QFileDialog* chooser = OpenChooser();
        native = !chooser->testOption(QFileDialog::DontUseNativeDialog);
        const int before = ticks;
        pump::PumpUntil([&] { return ticks >= before + 3; }, 2000);
        chooser->setDirectory(QString::fromStdString(dir.Path().string()));
        static_cast<QDialog*>(chooser)->accept();
    });
    std::string path = "untouched";
    const int ticksBefore = ticks;
    ASSERT_TRUE(PickFolder(nullptr, "title", "/", path)) << "no chooser opened, or its choice was lost";
    EXPECT_FALSE(native) << "the desktop's dialog needs glib's loop";
    EXPECT_GE(ticks, ticksBefore + 3) << "the event loop stood still while the chooser was open";
    EXPECT_EQ(path, dir.Path().string());
}
