// Process entry: the window framework, then the application object.
#include <QApplication>

#include "app/SkiffaApp.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    theApp.InitInstance();
    return 0;
}
