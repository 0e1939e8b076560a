// Texts the port list shows for a line: its settings and its caller's address.
#pragma once

#include <string>

#include "platform/base/wintypes.h"
#include "relay/PortInfo.h"

// The settings column of the port list for one record.
std::string PortSettingsSummary(const CPortInfo& port);

// An IPv4 address held in network byte order, as dotted decimal text.
std::string IpToString(DWORD address);
