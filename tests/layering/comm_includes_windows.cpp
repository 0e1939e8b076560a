// Must not compile: the serial ports sit below the windows and cannot see them.
#include "platform/windows/msgbox.h"
