// The application object: starts the socket layer and runs the main dialog.
#pragma once

#include "platform/base/wintypes.h"

class CSkiffaApp {
public:
    CSkiffaApp() = default;
    ~CSkiffaApp() = default;

    // Starts sockets and runs the main dialog modally; always FALSE, so the
    // process ends when the dialog closes.
    BOOL InitInstance();
};

extern CSkiffaApp theApp;
