// Inside the port calls: the object a handle stands for, which each kind of
// device (a tty, or a device the opener below supplies) implements.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/comm/comm.h"

// One open port. The generic half (comm.cpp) keeps the time-outs, the queue
// sizes, the event mask and the count of calls inside the object; the device
// half does the I/O. Every device operation returns ERROR_SUCCESS or the
// error code the failed call reports.
class CommPort {
public:
    CommPort() = default;
    CommPort(const CommPort&) = delete;
    CommPort& operator=(const CommPort&) = delete;
    virtual ~CommPort() = default;

    virtual DWORD GetState(DCB& dcb) = 0;
    // The state has been checked for values the line cannot take, except the
    // speed, which each device checks.
    virtual DWORD SetState(const DCB& dcb) = 0;
    virtual DWORD Purge(bool input, bool output) = 0;
    virtual DWORD Queues(DWORD& in, DWORD& out) = 0;
    // The output queue alone, as cheaply as the device can tell it.
    virtual DWORD OutputQueue(DWORD& out)
    {
        DWORD in = 0;
        return Queues(in, out);
    }

    // Blocks until received bytes are queued (only when watchInput; then
    // input = true), a wake-up is pending (taken; input = false), the device
    // has failed (ERROR_GEN_FAILURE) or Shutdown was called
    // (ERROR_OPERATION_ABORTED).
    virtual DWORD WaitEvent(bool watchInput, bool& input) = 0;
    // Leaves a wake-up pending for WaitEvent.
    virtual void Wake() = 0;
    // Ends every wait, now and later, with ERROR_OPERATION_ABORTED.
    virtual void Shutdown() = 0;

    // Takes at most `count` queued bytes without waiting.
    virtual DWORD Read(BYTE* buffer, DWORD count, DWORD& got) = 0;
    // Hands the device what it takes now without waiting (possibly nothing).
    virtual DWORD WriteSome(const BYTE* data, DWORD count, DWORD& accepted) = 0;
    // Sleeps until the device can take bytes again or timeoutMs passes (no
    // limit when negative); ERROR_SUCCESS in either case.
    virtual DWORD WaitWritable(long timeoutMs) = 0;
    // Sleeps at most timeoutMs, less when the output queue may have shrunk.
    virtual DWORD WaitOutputRoom(DWORD timeoutMs) = 0;

    virtual DWORD SetDtr(bool on) = 0;
    virtual DWORD ModemStatus(DWORD& status) = 0;

    // --- kept by the generic half; guarded by m_mutex ---------------------
    std::mutex m_mutex;
    std::condition_variable m_usersGone;
    int m_users = 0;  // calls inside the object now
    DWORD m_eventMask = 0;
    COMMTIMEOUTS m_timeouts{};
    DWORD m_inQueueSize = 2048;
    DWORD m_outQueueSize = 2048;
    bool m_lineStateAsked = false;  // SetCommState was called, whatever came of it

    // The device the port's name resolved to, for reports; set before the
    // handle is handed out and never changed.
    std::string m_device;
};

// True when termios has a constant for this speed in bits per second.
bool IsTermiosSpeed(DWORD baud);

// Opens a tty device path for a port: exclusively (its UUCP lock file,
// flock, TIOCEXCL), raw, CLOCAL and CREAD. Null with `error` and, in the
// system's words, `reason` set on failure.
std::unique_ptr<CommPort> OpenTtyPort(const std::string& devicePath, DWORD& error, std::string& reason);

// Opens a device of its own for a COM name ("COM5") before the name is
// resolved to a tty. `claimed` tells whether it knows the name; when it does
// not, the name goes on to the tty resolution. When it does, `device` names
// the device for reports, and the port is null with `error` set on failure.
using CommPortOpener = std::unique_ptr<CommPort> (*)(const std::string& comName, bool& claimed, DWORD& error,
                                                     std::string& device);
// Puts `opener` in front of every later open; null (as the program leaves
// it) opens ttys only.
void SetCommPortOpener(CommPortOpener opener);
