// The question a settings dialog asks its parent window before an OK that
// would cut calls: the answer is the number of connected users.
#pragma once

#include "platform/base/wintypes.h"

constexpr UINT WM_GETUSERCOUNT = WM_APP + 4;
