// Must compile: the serial ports see their own headers and the basics.
#include "platform/comm/comm.h"
