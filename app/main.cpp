// Process entry: the window framework, then the application object.
#include "platform/application.h"

#include "app/SkiffaApp.h"

int main(int argc, char** argv)
{
    const std::unique_ptr<QApplication> app = MakeApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    theApp.InitInstance();
    return 0;
}
