// The modem side's byte rules towards the host, as pure functions: the host's
// command-line parser and the hang-up string matcher.
#pragma once

#include "platform/base/wintypes.h"
#include "relay/PortInfo.h"

// What a completed host command line asks for.
enum class HostLine {
    None,     // no line ended, or a line that is not an AT command
    Answer,   // a line beginning with "ATA" in any case: answer the call
    OtherAt,  // any other line beginning with "AT" in any case: reply OK
};

// Feeds one byte from the host into the pending command line cmd (a buffer of
// CMD_BUFFER_SIZE bytes holding cmdLen characters). A byte other than CR or LF
// is appended; beyond CMD_BUFFER_SIZE - 1 characters the rest of the line is
// dropped up to its end. CR or LF ends the line: it is zero-terminated,
// classified by its length and first three characters, and cmdLen = 0.
HostLine FeedHostByte(char* cmd, int& cmdLen, BYTE c);

// Matches one zero-terminated hang-up string over one chunk of host bytes,
// exactly (case counts). pos is how many characters are matched so far and
// carries over between chunks. A byte that does not continue the match resets
// pos to 0 and is not tried again as the first character. Returns how many
// times the string was completed in the chunk (pos = 0 after each); 0 for an
// empty string. A pos that does not fit the string starts again from 0.
int MatchHangup(const char* str, int& pos, const BYTE* data, int n);
