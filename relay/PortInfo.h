// The record of one configured COM line: its settings side by side with the
// live state of the line, and the line states with their list texts.
#pragma once

#include <string>

#include "platform/base/clock.h"
#include "platform/comm/comm.h"
#include "platform/base/wintypes.h"
#include "relay/LineSettings.h"

class CSerialPort;

enum LineState {
    LINE_IDLE = 0,          // no call; free for the next caller while it has no caller socket
    LINE_RINGING = 1,       // a caller was accepted and RINGs go to the host
    LINE_WAIT_CONNECT = 2,  // the host sent ATA in CONNECT mode 1; CONNECT follows the wait
    LINE_CONNECTED = 3,     // bytes are relayed both ways
    LINE_HOLD = 4,          // the caller left; the line is held busy for the hold time
    LINE_MODEM_INIT = 5,    // the host sent an AT command other than ATA; idle after 3 s
    LINE_OPEN_ERROR = 6,    // the COM port could not be opened; out of the pool
};

// The most lines the relay serves: the per-line timer bands 100+row, 200+row
// and 300+row must not overlap.
constexpr int MAX_LINES = 100;

// Size of the host's pending command line buffer.
constexpr int CMD_BUFFER_SIZE = 2048;

// The longest hang-up string, in bytes, and the size of its store with the
// terminating zero: the settings dialog accepts 2048 bytes, all of which are kept.
constexpr int HANGUP_STRING_MAX = 2048;
constexpr int HANGUP_STORE_SIZE = HANGUP_STRING_MAX + 1;

// The line's settings come from its base; every other field is run-time
// state, never stored.
struct CPortInfo : CLineSettings {
    CSerialPort* m_pComm = nullptr;  // refers to, does not own, the open port
    std::string m_strName;
    int m_nState = LINE_IDLE;
    int m_nRingSent = 0;
    int m_nNoCommCounter = 0;
    int m_nLimitCounter = 0;
    int m_bIacPending = 0;
    SOCKET m_sock = INVALID_SOCKET;
    std::string m_strAddress;
    bool m_bNegotiating = false;
    int m_nNegotiateCount = 0;
    int m_nCmdLen = 0;
    char m_szCmd[CMD_BUFFER_SIZE] = {};
    int m_nCheckPos[2] = {0, 0};
    bool m_bCheckHit = false;
    DateTime m_timeConnect;
    // The caller held back while the port's output queue is full: a read
    // that waits for room.
    bool m_bReadHeld = false;

    // A record with the settings a port section gives when its keys are
    // missing, and every run-time field at its idle value.
    static CPortInfo FromSectionDefaults(const std::string& name);
    // A record for a port newly added in the general settings dialog.
    static CPortInfo FromNewPortDefaults(const std::string& name);

    bool HasCaller() const { return m_sock != INVALID_SOCKET; }
};

// The list text of a line state (string 204 + state); empty for an unknown state.
std::string LineStateText(int state);
