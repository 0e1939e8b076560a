// An in-memory serial device for tests. Registered under a COM name, it is
// opened by the same port calls as a tty (platform/comm/comm.h) and plays the BBS
// host's end of the line: a test feeds the bytes the host sends, reads what
// the program wrote, sets DSR, watches DTR, holds the output queue full, and
// makes reads, writes or the whole device fail.
//
//     auto dev = MemSerialDevice::Register("COM5");
//     ... the program opens COM5 ...
//     dev->FeedFromHost("ATA\r");
//     ASSERT_TRUE(dev->WaitForWritten(11, 5s));
//     EXPECT_EQ(dev->TakeWritten(), "CONNECT ..");
//     MemSerialDevice::Unregister("COM5");
//
// Every member is safe to call from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/comm/comm.h"

class CommPort;

class MemSerialDevice {
public:
    // Registers a new device under `comName` ("COM5"; case does not matter)
    // and returns it. A device registered under that name before is replaced
    // for later opens; a handle open on it keeps working on the old one.
    static std::shared_ptr<MemSerialDevice> Register(const std::string& comName);
    // Removes the name; handles open on the device keep working.
    static void Unregister(const std::string& comName);
    // The device registered under the name, or null.
    static std::shared_ptr<MemSerialDevice> Find(const std::string& comName);

    MemSerialDevice();
    MemSerialDevice(const MemSerialDevice&) = delete;
    MemSerialDevice& operator=(const MemSerialDevice&) = delete;

    // --- the host's end ---------------------------------------------------

    // The host's DSR output, seen by the program as MS_DSR_ON. Off at first.
    void SetDsr(bool on);
    // The program's DTR output (EscapeCommFunction). Off at first.
    bool Dtr() const;
    // Waits until DTR is `on`; false when the time passes first.
    bool WaitForDtr(bool on, std::chrono::milliseconds timeout) const;

    // Queues bytes for the program to receive, all at once.
    void FeedFromHost(std::string_view bytes);
    // Waits until the program has read (or purged) everything fed.
    bool WaitForInputTaken(std::chrono::milliseconds timeout) const;

    // The bytes the program wrote since the last call, in order.
    std::string TakeWritten();
    // Waits until at least `count` bytes wait in TakeWritten.
    bool WaitForWritten(size_t count, std::chrono::milliseconds timeout) const;
    // The size of each write that reached the device, oldest first, since
    // the last call.
    std::vector<size_t> TakeWriteSizes();

    // While full, the output queue reports all its bytes in use
    // (ClearCommError's cbOutQue = the size given to SetupComm) and takes
    // nothing, so writes wait and time out.
    void SetOutputQueueFull(bool full);
    // Waits until a write waits for room in the full output queue.
    bool WaitForStalledWrite(std::chrono::milliseconds timeout) const;
    // The write that waits for room, or else the next one to wait, times out
    // now (ERROR_TIMEOUT), as it would once its time-out had passed.
    void TimeOutStalledWrite();
    // While set, every read fails (ERROR_GEN_FAILURE) and loses the bytes it
    // would have read, as on a line error.
    void FailReads(bool fail);
    // While set, every write fails (ERROR_GEN_FAILURE) and nothing arrives.
    void FailWrites(bool fail);
    // The device is gone for good: every call on an open handle fails, a
    // waiting WaitCommEvent returns FALSE, and it cannot be opened again.
    void Fail();

    // While set, the device takes only the speeds termios has a constant
    // for, as a driver without an arbitrary divisor; any other speed is
    // refused and the old one stays. Off at first: every positive speed.
    void TakeOnlyStandardSpeeds(bool only);

    // Whether a handle is open on the device.
    bool IsOpen() const;
    // Waits until no handle is open on the device.
    bool WaitUntilClosed(std::chrono::milliseconds timeout) const;
    // The line state last set (SetCommState); 9600 baud, 8 data bits, no
    // parity, one stop bit at first.
    DCB LineState() const;
    // The time-outs set on the open handle (SetCommTimeouts); all zero while
    // no handle is open.
    COMMTIMEOUTS Timeouts() const;

private:
    friend class MemCommPort;
    CommPort* m_port = nullptr;  // the open handle's port, or null

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;  // notified on every change
    bool m_open = false;
    bool m_wakePending = false;  // of the open handle
    bool m_closing = false;      // of the open handle
    bool m_dsr = false;
    bool m_dtr = false;
    bool m_outputFull = false;
    int m_stalledWrites = 0;
    bool m_timeOutWrite = false;
    bool m_failReads = false;
    bool m_failWrites = false;
    bool m_failed = false;
    bool m_onlyStandardSpeeds = false;
    std::string m_input;
    std::string m_written;
    std::vector<size_t> m_writeSizes;
    DCB m_state{};
};
