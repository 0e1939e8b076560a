// The line speeds termios has a constant for, both ways.
#pragma once

#include <termios.h>

#include "platform/base/wintypes.h"

// The constant for a speed in bits per second; false when termios has none.
bool SpeedConstant(DWORD baud, speed_t& constant);

// The speed in bits per second of a constant; 0 for an unknown constant.
DWORD SpeedOf(speed_t constant);
