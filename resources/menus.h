// Menu resources: the tray icon's menu and the port list's menu.
#pragma once

#include "platform/windows/menu.h"

// The menu resource with this id; ends the program for an unknown id, as a
// missing template would be a build fault.
const MenuTemplate& FindMenuTemplate(unsigned id);
