// The communications-port calls the serial driver is written against: open a
// COM port by name, set its line, wait for received bytes, read, write with a
// time-out, and work the modem lines. Behind a handle sits either a real tty
// (termios) or a device put in front of the ttys (platform/comm/comm_object.h);
// every call behaves the same on both.
//
// Port names: "COMn" (optionally written "\\.\COMn") resolves to a device
// put in front of the ttys under that name, else to the entry com/COMn in the
// executable's folder when it exists (a symlink to any tty), else to
// /dev/ttyS<n-1>. A port is open in at most one handle at a time, in this
// process or any other (its UUCP lock file, platform/comm/comm_lock.h, where the
// lock folder takes one; flock; TIOCEXCL as well, which root does not obey).
//
// All calls may be used from several threads at once on one handle; a handle
// stays usable until CloseHandle, which wakes a thread blocked in
// WaitCommEvent, WriteFile or WaitCommOutputRoom on it and returns once no
// other call is still inside the handle.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/wintypes.h"

// A port handle. Handle values are never reused, so a stale handle fails
// with ERROR_INVALID_HANDLE instead of reaching a newer port.
struct CommHandleTag;
using HANDLE = CommHandleTag*;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~static_cast<std::uintptr_t>(0));

// Error codes of the port calls beyond those of wintypes.h.
constexpr DWORD ERROR_NOT_SUPPORTED = 50;       // the device has no such function (a pty has no modem lines)
constexpr DWORD ERROR_INVALID_PARAMETER = 87;   // a line parameter or argument the device cannot take
constexpr DWORD ERROR_OPERATION_ABORTED = 995;  // the handle was closed while the call waited

// The calling thread's last error code, set by a failed port call.
DWORD GetLastError();
void SetLastError(DWORD error);

// Opens the port `path` names ("COM3" or "\\.\COM3") for reading and writing,
// exclusively, in raw mode with CLOCAL and CREAD set (no echo, no CR/LF
// translation, no signal characters; neither open nor reads wait on carrier).
// INVALID_HANDLE_VALUE on failure: ERROR_FILE_NOT_FOUND when the name is no
// COM port name, nothing exists behind it, or it is not a tty;
// ERROR_ACCESS_DENIED when another handle or program holds the port. A
// handle closed without any SetCommState call puts back the tty settings it
// found, so opening a port only to see whether it can be opened leaves it as
// it was; a port set up as a line keeps raw mode after the close.
[[nodiscard]] HANDLE CreateCommFileA(const char* path);

// Why this thread's last CreateCommFileA failed, as the system tells it: the
// device the name resolved to ("/opt/skiffa/com/COM1 -> /dev/ttyUSB0") and the
// reason ("No such file or directory", "Device or resource busy (...)").
// Both empty after a successful open.
struct CommOpenFailure {
    std::string device;
    std::string reason;
};
CommOpenFailure GetLastCommOpenFailure();

// The device an open handle's port name resolved to, in the words of
// CommOpenFailure::device ("/opt/skiffa/com/COM1 -> /dev/ttyUSB0"); empty for
// a handle that is not open.
std::string GetCommDeviceName(HANDLE h);

// Closes the handle: wakes any thread waiting in it, waits until no other
// call is inside it, then releases the port. FALSE for an invalid handle.
BOOL CloseHandle(HANDLE h);

// PurgeComm flags. The abort flags end nothing on this system: calls do not
// stay pending after they return.
constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;

// Drops the bytes queued for output (PURGE_TXCLEAR) and received
// (PURGE_RXCLEAR).
BOOL PurgeComm(HANDLE h, DWORD flags);

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

// Stores the time-outs. Reads always return at once with what is queued (the
// only read time-out the program uses); a write of n bytes gives up after
// WriteTotalTimeoutMultiplier * n + WriteTotalTimeoutConstant ms, and waits
// without limit when both are 0.
BOOL SetCommTimeouts(HANDLE h, const COMMTIMEOUTS* timeouts);

constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;
constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;

// The line state: the part of a device control block this system keeps.
// The structure length callers put in DCBlength.
constexpr DWORD DCB_LENGTH = 28;

struct DCB {
    DWORD DCBlength;     // accepted and ignored
    DWORD BaudRate;      // bits per second: any the device takes, not only the speeds termios has
    DWORD fParity;       // check the parity of received bytes
    DWORD fOutxCtsFlow;  // CTS/RTS hardware flow control
    DWORD fDtrControl;   // reported as DTR_CONTROL_ENABLE; DTR moves only by EscapeCommFunction
    DWORD fRtsControl;   // RTS_CONTROL_ENABLE holds RTS on, _DISABLE holds it off, _HANDSHAKE is CTS/RTS flow
    DWORD fOutX;         // XON/XOFF on output
    DWORD fInX;          // XON/XOFF on input
    BYTE ByteSize;       // 5 to 8 data bits
    BYTE Parity;         // NOPARITY to SPACEPARITY
    BYTE StopBits;       // ONESTOPBIT or TWOSTOPBITS
};

// Reports the port's current line state.
BOOL GetCommState(HANDLE h, DCB* dcb);

// Applies the line state. A data size, parity, stop-bit or RTS value the
// line cannot take fails with ERROR_INVALID_PARAMETER and changes nothing.
// The speed is set exactly, also one termios has no constant for (14400,
// 56000, any positive number) through the kernel's arbitrary-speed
// interface; a speed the device refuses (0 always) fails with
// ERROR_INVALID_PARAMETER too, but leaves only the old speed: the rest of the
// state is applied.
BOOL SetCommState(HANDLE h, const DCB* dcb);

// Records the queue sizes asked for (both must be nonzero). The kernel keeps
// its own buffers; the sizes are what the driver plans its writes against.
BOOL SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue);

// Event mask bits.
constexpr DWORD EV_RXCHAR = 0x0001;

// Sets the events WaitCommEvent waits for, and wakes a WaitCommEvent that is
// waiting now or, when none is, the next one: it returns TRUE with a mask of
// 0. The wake-up is kept until a wait takes it, so a thread that checks a
// stop flag and then waits can never miss the wake-up given after the flag
// was cleared.
BOOL SetCommMask(HANDLE h, DWORD mask);

// Blocks until one of the mask's events is there (EV_RXCHAR: received bytes
// are queued; *mask = EV_RXCHAR) or SetCommMask wakes it (*mask = 0). FALSE
// when the handle is closed meanwhile (ERROR_OPERATION_ABORTED) or the device
// has gone (ERROR_GEN_FAILURE: a tty hung up, a pty whose far end closed, an
// in-memory device made to fail).
[[nodiscard]] BOOL WaitCommEvent(HANDLE h, DWORD* mask);

struct COMSTAT {
    DWORD cbInQue;   // bytes received and not yet read
    DWORD cbOutQue;  // bytes written and not yet sent
};

// Clears the line's error state and reports the two queues. Line errors are
// not counted on this system, so *errors is always 0. FALSE with
// ERROR_GEN_FAILURE when the device has gone: the status is then all 0.
BOOL ClearCommError(HANDLE h, DWORD* errors, COMSTAT* status);

// The bytes written and not yet sent (ClearCommError's cbOutQue) with a single
// look at the device, for a writer that asks before every piece. A tty that
// has hung up may still answer; its next write fails. FALSE with
// ERROR_GEN_FAILURE when the device has failed.
BOOL GetCommOutputQueue(HANDLE h, DWORD* bytes);

// Reads at most `count` of the bytes queued now and returns at once, also
// with none (TRUE, *read = 0). FALSE when the device has failed; *read is 0.
[[nodiscard]] BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read);

// Writes all `count` bytes, sleeping while the output is full, until the
// write time-out (SetCommTimeouts) passes: then FALSE with ERROR_TIMEOUT and
// *written the bytes that did go out. FALSE with ERROR_GEN_FAILURE when the
// device fails, ERROR_OPERATION_ABORTED when the handle is closed meanwhile.
// A count of 0 writes nothing and succeeds.
BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* written);

// Hands the device what it takes now, without waiting: *written is the
// count taken (possibly 0). FALSE when the device fails.
BOOL WriteFileNow(HANDLE h, const void* buffer, DWORD count, DWORD* written);

// Sleeps until bytes may have left the output queue or `timeoutMs` passed,
// whichever is first, and never longer than timeoutMs. It lets a writer
// that waits for room in the queue (ClearCommError's cbOutQue) sleep between
// its looks instead of spinning. FALSE when the device has failed or the
// handle is closed meanwhile.
[[nodiscard]] BOOL WaitCommOutputRoom(HANDLE h, DWORD timeoutMs);

// EscapeCommFunction functions.
constexpr DWORD SETDTR = 5;
constexpr DWORD CLRDTR = 6;

// Raises (SETDTR) or drops (CLRDTR) DTR. A pty has no modem lines: FALSE with
// ERROR_NOT_SUPPORTED.
BOOL EscapeCommFunction(HANDLE h, DWORD function);

// Modem status bits.
constexpr DWORD MS_CTS_ON = 0x0010;
constexpr DWORD MS_DSR_ON = 0x0020;
constexpr DWORD MS_RING_ON = 0x0040;
constexpr DWORD MS_RLSD_ON = 0x0080;

// Reports the modem input lines. A pty has none: FALSE with
// GetLastError() == ERROR_NOT_SUPPORTED, which a caller can tell apart from
// a failed device (ERROR_GEN_FAILURE).
[[nodiscard]] BOOL GetCommModemStatus(HANDLE h, DWORD* status);
