// The telnet byte rules of the caller's side, as pure functions over byte
// spans: skipping the caller's first option replies, undoubling IAC IAC
// towards the host, and doubling every 0xFF towards the caller.
#pragma once

#include "platform/base/wintypes.h"

// Telnet bytes (RFC 854, 856, 857).
constexpr BYTE TELNET_IAC = 0xFF;
constexpr BYTE TELNET_WILL = 0xFB;
constexpr BYTE TELNET_OPT_BINARY = 0x00;
constexpr BYTE TELNET_OPT_ECHO = 0x01;

// The skipping phase at the start of a call: the caller's replies to the two
// offers come in groups of three bytes starting with IAC. While negotiating,
// each byte is skipped (count += 1) until a byte at a group boundary
// (count % 3 == 0) is not IAC; that ends the phase (negotiating = false) and
// its index is returned: bytes from there on are the caller's data. Returns
// n when every byte was skipped or n <= 0, and 0 (every byte for the host)
// when the phase is already over. count keeps its remainder by 3 however long
// the phase lasts.
int SkipOptionReplies(const BYTE* data, int n, bool& negotiating, int& count);

// The data phase towards the host: IAC IAC gives one 0xFF, also when the pair
// is split between two reads (iacPending carries the first IAC over); any
// other byte after an IAC passes, and so does the IAC. out has room for n
// bytes; returns the number written.
int UndoubleIac(const BYTE* in, int n, BYTE* out, int& iacPending);

// One read from the caller made into the bytes for the host: while
// negotiating, the option replies are skipped; what follows them, and every
// later read, is undoubled. out has room for n bytes; returns the number
// written (0 when n <= 0).
int CallerBytesToHost(const BYTE* in, int n, bool& negotiating, int& count, int& iacPending, BYTE* out);

// Towards the caller: every 0xFF doubled. out has room for 2n bytes; returns
// the number written.
int DoubleIac(const BYTE* in, int n, BYTE* out);
