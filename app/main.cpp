// Process entry: the window framework, then the application object.
#include <QApplication>
#include <QLocale>

#include "app/SkiffaApp.h"
#include "app/Toolkit.h"
#include "platform/system/system.h"
#include "platform/windows/translations.h"

int main(int argc, char** argv)
{
    // Every refused caller who never hangs up keeps a descriptor.
    RaiseOpenFileLimit();
    InstallToolkitMessageLines();
    // Started where no display can be opened (over ssh, as a service), the
    // program runs without a window instead of ending.
    AddOffscreenFallback(argc, argv);
    QApplication app(argc, argv);
    ReportOffscreenFallback();
    QApplication::setQuitOnLastWindowClosed(false);
    // The toolkit's buttons and folder chooser in the desktop's language
    // (LANG, LC_MESSAGES, LANGUAGE); English where no catalogue is installed.
    LoadToolkitTranslations(QLocale::system());
    theApp.InitInstance();
    return 0;
}
