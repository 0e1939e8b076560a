// The application object of the window framework, made on the event loop the
// relay runs best on.
#pragma once

#include <QApplication>
#include <memory>

// Makes the application object on Qt's own event loop instead of glib's: it
// wakes faster for the sockets and the serial lines' messages, and the window
// side needs nothing of glib (the folder chooser is Qt's own dialog, the tray
// talks D-Bus on Qt's own connection). QT_NO_GLIB set by the user is obeyed;
// otherwise it is set only while the object is made, so that programs started
// later (the help viewer) do not inherit it.
std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv);
