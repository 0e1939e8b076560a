// Must compile: the relay layer sees its own headers and the platform's.
#include "relay/telnet.h"
