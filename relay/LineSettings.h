// The nine settings of one COM line, as a port section of korvo.ini stores
// them and the settings dialogs edit them: one type, copied whole.
#pragma once

#include "platform/comm/comm.h"

// When a line sends "CONNECT <speed>" to the host (the record's m_nConnect).
enum ConnectMode {
    CONNECT_NONE = 0,        // never; ATA or the last RING connects silently
    CONNECT_AFTER_ATA = 1,   // after the host's ATA, once the CONNECT wait has passed
    CONNECT_AFTER_RING = 2,  // after the last RING
};

// The initial values are what a port section gives when its keys are missing.
struct CLineSettings {
    int m_nSpeed = 38400;                // baud rate; also the number in "CONNECT %d"
    int m_nData = 8;                     // data bits, 8 or 7
    int m_nStop = 1;                     // stop bits, 1 or 2
    int m_nParity = ODDPARITY;           // 0 none, 1 odd, 2 even
    int m_nRing = 2;                     // RINGs sent for a call, 0 to 3
    int m_nRingInterval = 1000;          // ms between RINGs
    int m_nConnectInterval = 2000;       // ms from the host's ATA to CONNECT in mode 1
    int m_nConnect = CONNECT_AFTER_ATA;  // ConnectMode
    int m_bDsr = 1;                      // cut the call when the host drops DSR

    // This object as the settings alone, to copy them between records and
    // dialogs by assignment.
    CLineSettings& LineSettings() { return *this; }
    const CLineSettings& LineSettings() const { return *this; }
};
