#include "platform/application.h"

std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv)
{
    const bool chosenByUser = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!chosenByUser)
        qputenv("QT_NO_GLIB", "1");
    auto app = std::make_unique<QApplication>(argc, argv);
    if (!chosenByUser)
        qunsetenv("QT_NO_GLIB");
    return app;
}
