// The port calls on both kinds of device: name resolution, exclusive opens,
// the line state, waits and their wake-ups, time-outs, modem lines, and a
// device that goes away.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "platform/comm/comm.h"
#include "support/comm_pty.h"
#include "support/memserial.h"
#include "serial_test_support.h"

namespace {

using namespace std::chrono_literals;
using serial_test::ModuleFolder;

// Registers an in-memory device for one test and removes it afterwards.
struct MemPort {
    explicit MemPort(std::string n) : name(std::move(n)), device(MemSerialDevice::Register(name)) {}
    ~MemPort() { MemSerialDevice::Unregister(name); }
    std::string name;
    std::shared_ptr<MemSerialDevice> device;
};

// Closes a handle at the end of a test unless the test closed it.
struct Handle {
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Close()
    {
        const bool ok = CloseHandle(h) != FALSE;
        h = INVALID_HANDLE_VALUE;
        return ok;
    }
    HANDLE h;
};

DWORD OpenError(const char* name)
{
    const HANDLE h = CreateCommFileA(name);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

// --- names and exclusive opens ------------------------------------------------

// A port is open in one handle at a time, whichever way its name is written;
// strings that are no COM port name never open.
TEST(CommLayerTest, OpenIsExclusiveAndNamesAreChecked)
{
    MemPort port("COM5");
    Handle first(CreateCommFileA("\\\\.\\COM5"));
    ASSERT_NE(first.h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(port.device->IsOpen());

    for (const char* again : {"\\\\.\\COM5", "COM5", "com5"}) {
        EXPECT_EQ(CreateCommFileA(again), INVALID_HANDLE_VALUE) << again;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << again;
    }
    ASSERT_TRUE(first.Close());
    EXPECT_FALSE(port.device->IsOpen());
    EXPECT_EQ(OpenError("COM5"), ERROR_SUCCESS) << "free again after the close";

    for (const char* bad : {"COM0", "COM", "COM05", "COM5x", "LPT1", "\\\\.\\", "", "COM-1", "COM123456789"})
        EXPECT_EQ(OpenError(bad), ERROR_FILE_NOT_FOUND) << "\"" << bad << "\"";
    EXPECT_EQ(CreateCommFileA(nullptr), INVALID_HANDLE_VALUE);
}

// A closed handle stays dead: calls on it fail instead of reaching the port
// that is opened next.
TEST(CommLayerTest, StaleHandlesFail)
{
    MemPort port("COM6");
    const HANDLE old = CreateCommFileA("COM6");
    ASSERT_NE(old, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(old));
    Handle fresh(CreateCommFileA("COM6"));
    ASSERT_NE(fresh.h, INVALID_HANDLE_VALUE);
    EXPECT_NE(fresh.h, old) << "handle values are not reused";

    DWORD written = 1;
    EXPECT_FALSE(WriteFile(old, "x", 1, &written));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(EscapeCommFunction(old, SETDTR));
    EXPECT_FALSE(port.device->Dtr()) << "the stale handle reached the new port";
    EXPECT_FALSE(GetCommOutputQueue(old, &written));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(old));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    DWORD mask = 0;
    EXPECT_FALSE(WaitCommEvent(INVALID_HANDLE_VALUE, &mask));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// A registered in-memory device wins over a com/ link of the same name; a
// com/ entry that leads nowhere, or to no tty, is no port (and never falls
// back to the system's serial port of that number).
TEST(CommLayerTest, NameResolution)
{
    ModuleFolder folder;
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsOpen());
    ASSERT_TRUE(folder.Link("COM8", pty.SlavePath()));
    ASSERT_TRUE(folder.Link("COM1", folder.path() + "/missing"));
    std::ofstream(folder.path() + "/com/COM2") << "not a tty";

    EXPECT_EQ(OpenError("COM1"), ERROR_FILE_NOT_FOUND) << "broken link";
    EXPECT_EQ(OpenError("COM2"), ERROR_FILE_NOT_FOUND) << "regular file";
    {
        MemPort mem("COM8");
        Handle h(CreateCommFileA("COM8"));
        ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(mem.device->IsOpen()) << "the in-memory device was not the one opened";
        Handle tty(CreateCommFileA("COM8"));
        EXPECT_EQ(tty.h, INVALID_HANDLE_VALUE) << "the link was used although the device is registered";
    }
    Handle tty(CreateCommFileA("COM8"));
    EXPECT_NE(tty.h, INVALID_HANDLE_VALUE) << "the link once the device is gone: " << GetLastError();
}

// --- line state -----------------------------------------------------------------

// Values the line cannot take (data bits, parity, stop bits) fail and change
// nothing; the speed is the device's: any positive speed the device takes is
// set exactly, and one it refuses leaves the old speed while the rest is set.
TEST(CommLayerTest, LineStateChecksAndExactSpeeds)
{
    MemPort port("COM9");
    Handle h(CreateCommFileA("COM9"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(h.h, &dcb));
    dcb.BaudRate = 57600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(SetCommState(h.h, &dcb));

    const struct {
        const char* what;
        void (*spoil)(DCB&);
    } bad[] = {
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }},
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }},
        {"parity 5", [](DCB& d) { d.Parity = 5; }},
        {"stop bits 3", [](DCB& d) { d.StopBits = 3; }},
    };
    for (const auto& b : bad) {
        DCB spoiled = dcb;
        spoiled.BaudRate = 9600;  // valid changes riding along must not be applied either
        b.spoil(spoiled);
        EXPECT_FALSE(SetCommState(h.h, &spoiled)) << b.what;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << b.what;
        EXPECT_EQ(port.device->LineState().BaudRate, 57600u) << b.what;
    }

    for (DWORD speed : {14400u, 28800u, 56000u, 128000u, 256000u, 12345u}) {
        dcb.BaudRate = speed;
        EXPECT_TRUE(SetCommState(h.h, &dcb)) << speed;
        EXPECT_EQ(port.device->LineState().BaudRate, speed);
    }

    port.device->TakeOnlyStandardSpeeds(true);
    for (DWORD refused : {14400u, 0u}) {
        DCB next = dcb;
        next.BaudRate = refused;
        next.ByteSize = 8;
        next.Parity = NOPARITY;
        next.StopBits = ONESTOPBIT;
        EXPECT_FALSE(SetCommState(h.h, &next)) << refused;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        const DCB now = port.device->LineState();
        EXPECT_EQ(now.BaudRate, 12345u) << "a refused speed leaves the old one";
        EXPECT_EQ(now.ByteSize, 8) << "the rest of the line is set all the same";
        EXPECT_EQ(now.Parity, NOPARITY);
        EXPECT_EQ(now.StopBits, ONESTOPBIT);
    }
}

// On a pty the line state lands in termios; the port is raw with CLOCAL and
// CREAD from the open on, and HUPCL, so that DTR drops however the process
// ends, even on a line a former user left without it.
TEST(CommLayerTest, PtyLineStateInTermios)
{
    ModuleFolder folder;
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsOpen());
    ASSERT_TRUE(pty.ClearSlaveHupcl());
    ASSERT_TRUE(folder.Link("COM3", pty.SlavePath()));
    Handle h(CreateCommFileA("\\\\.\\COM3"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE) << GetLastError();

    TtySettings s;
    ASSERT_TRUE(pty.SlaveSettings(s));
    EXPECT_TRUE(s.raw);
    EXPECT_TRUE(s.clocal);
    EXPECT_TRUE(s.cread);
    EXPECT_TRUE(s.hupcl) << "a killed process would leave DTR up";

    DCB dcb{};
    ASSERT_TRUE(GetCommState(h.h, &dcb));
    dcb.BaudRate = 19200;
    dcb.ByteSize = 7;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fParity = 1;
    ASSERT_TRUE(SetCommState(h.h, &dcb));
    // The kernel's pty driver keeps 8 data bits without parity whatever is
    // set, so those two show only on a real UART or the in-memory device.
    ASSERT_TRUE(pty.SlaveSettings(s));
    EXPECT_EQ(s.baud, 19200u);
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_TRUE(s.parityCheck);
    EXPECT_TRUE(s.raw) << "the line state undid raw mode";
    EXPECT_TRUE(s.hupcl) << "the line state undid HUPCL";

    DCB back{};
    ASSERT_TRUE(GetCommState(h.h, &back));
    EXPECT_EQ(back.BaudRate, 19200u);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.fParity, 1u);

    // A speed termios has no constant for is set exactly, through the
    // kernel's arbitrary-speed interface, and reported back.
    for (DWORD speed : {14400u, 56000u, 250000u}) {
        dcb.BaudRate = speed;
        dcb.StopBits = speed == 56000u ? ONESTOPBIT : TWOSTOPBITS;
        ASSERT_TRUE(SetCommState(h.h, &dcb)) << speed << " error " << GetLastError();
        ASSERT_TRUE(pty.SlaveSettings(s));
        EXPECT_EQ(s.baud, speed);
        EXPECT_EQ(s.stopBits, speed == 56000u ? 1 : 2);
        EXPECT_TRUE(s.raw);
        ASSERT_TRUE(GetCommState(h.h, &back));
        EXPECT_EQ(back.BaudRate, speed);
    }
    dcb.BaudRate = 0;  // no speed, and on a tty it would hang up the line
    EXPECT_FALSE(SetCommState(h.h, &dcb));
    ASSERT_TRUE(pty.SlaveSettings(s));
    EXPECT_EQ(s.baud, 250000u);
    dcb.BaudRate = 9600;  // and back to a speed termios has a constant for
    ASSERT_TRUE(SetCommState(h.h, &dcb));
    ASSERT_TRUE(pty.SlaveSettings(s));
    EXPECT_EQ(s.baud, 9600u);
}

// --- waits ------------------------------------------------------------------------

// SetCommMask wakes a wait in another thread; a wake-up given while nobody
// waits is kept for the next wait; received bytes end a wait on EV_RXCHAR.
TEST(CommLayerTest, WaitWakesOnMaskAndInput)
{
    MemPort port("COM10");
    Handle h(CreateCommFileA("COM10"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(h.h, EV_RXCHAR));

    DWORD mask = 99;
    ASSERT_TRUE(WaitCommEvent(h.h, &mask)) << "the pending wake-up of SetCommMask";
    EXPECT_EQ(mask, 0u);

    auto waiter = std::async(std::launch::async, [&] {
        DWORD m = 99;
        const BOOL ok = WaitCommEvent(h.h, &m);
        return std::make_pair(ok, m);
    });
    ASSERT_TRUE(SetCommMask(h.h, EV_RXCHAR));
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "SetCommMask did not wake the wait";
    EXPECT_EQ(waiter.get(), std::make_pair(TRUE, DWORD{0}));

    port.device->FeedFromHost("abc");
    ASSERT_TRUE(WaitCommEvent(h.h, &mask));
    EXPECT_EQ(mask, EV_RXCHAR);
    DWORD errors = 7;
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(h.h, &errors, &status));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(status.cbInQue, 3u);
}

// CloseHandle ends a wait in another thread (ERROR_OPERATION_ABORTED) and
// returns only once the waiter has left the handle.
TEST(CommLayerTest, CloseEndsWait)
{
    MemPort port("COM11");
    const HANDLE h = CreateCommFileA("COM11");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(h, EV_RXCHAR));
    DWORD mask = 0;
    ASSERT_TRUE(WaitCommEvent(h, &mask));  // takes the wake-up of SetCommMask

    auto waiter = std::async(std::launch::async, [&] {
        DWORD m = 0;
        const BOOL ok = WaitCommEvent(h, &m);
        return std::make_pair(ok, GetLastError());
    });
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_FALSE(port.device->IsOpen());
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    const auto [ok, error] = waiter.get();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error == ERROR_OPERATION_ABORTED || error == ERROR_INVALID_HANDLE)
        << "the wait started before or after the close: " << error;
}

// Reads return at once with what is queued, at most the count asked for;
// purging drops the rest.
TEST(CommLayerTest, ReadTakesWhatIsQueued)
{
    MemPort port("COM12");
    Handle h(CreateCommFileA("COM12"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    BYTE buffer[4096];
    DWORD got = 99;
    ASSERT_TRUE(ReadFile(h.h, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 0u) << "an empty queue";

    const std::string data = serial_test::Pattern(5000);
    port.device->FeedFromHost(data);
    ASSERT_TRUE(ReadFile(h.h, buffer, 2048, &got));
    ASSERT_EQ(got, 2048u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), data.substr(0, 2048));
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(h.h, nullptr, &status));
    EXPECT_EQ(status.cbInQue, 2952u);
    ASSERT_TRUE(PurgeComm(h.h, PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(h.h, nullptr, &status));
    EXPECT_EQ(status.cbInQue, 0u);
}

// --- writes ---------------------------------------------------------------------

// A full output queue reports the queue size in use and makes a write give
// up at its time-out; a queue that drains lets a waiting write finish.
TEST(CommLayerTest, WriteTimesOutOnFullQueue)
{
    MemPort port("COM13");
    Handle h(CreateCommFileA("COM13"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetupComm(h.h, 2048, 512));
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 150};
    ASSERT_TRUE(SetCommTimeouts(h.h, &t));

    DWORD queued = 99;
    ASSERT_TRUE(GetCommOutputQueue(h.h, &queued));
    EXPECT_EQ(queued, 0u);
    port.device->SetOutputQueueFull(true);
    COMSTAT status{};
    ASSERT_TRUE(ClearCommError(h.h, nullptr, &status));
    EXPECT_EQ(status.cbOutQue, 512u);
    ASSERT_TRUE(GetCommOutputQueue(h.h, &queued));
    EXPECT_EQ(queued, 512u) << "the output queue alone, as ClearCommError tells it";
    DWORD written = 99;
    EXPECT_FALSE(WriteFile(h.h, "hello", 5, &written));
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(port.device->TakeWritten(), "");
    EXPECT_TRUE(WriteFile(h.h, "", 0, &written)) << "a write of no bytes needs no room";

    t.WriteTotalTimeoutConstant = 0;  // no time-out at all
    ASSERT_TRUE(SetCommTimeouts(h.h, &t));
    auto writer = std::async(std::launch::async, [&] {
        DWORD n = 0;
        return WriteFile(h.h, "late", 4, &n) && n == 4;
    });
    port.device->SetOutputQueueFull(false);
    ASSERT_EQ(writer.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(writer.get());
    EXPECT_EQ(port.device->TakeWritten(), "late");
}

// On a pty whose far end reads nothing the line fills up; a write then
// gives up at its time-out, and goes through again once the far end reads.
TEST(CommLayerTest, PtyWriteTimesOutWhenNobodyReads)
{
    ModuleFolder folder;
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsOpen());
    ASSERT_TRUE(folder.Link("COM4", pty.SlavePath()));
    Handle h(CreateCommFileA("COM4"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 100};
    ASSERT_TRUE(SetCommTimeouts(h.h, &t));

    const std::string chunk(1024, 'x');
    size_t accepted = 0;
    DWORD written = 0;
    int writes = 0;
    while (WriteFile(h.h, chunk.data(), static_cast<DWORD>(chunk.size()), &written)) {
        accepted += written;
        ASSERT_LT(++writes, 4096) << "the line never filled";
    }
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    accepted += written;
    EXPECT_GT(accepted, 0u);
    COMSTAT status{};
    DWORD queued = 99;
    ASSERT_TRUE(ClearCommError(h.h, nullptr, &status));
    ASSERT_TRUE(GetCommOutputQueue(h.h, &queued));
    EXPECT_EQ(queued, status.cbOutQue) << "the tty's output queue, told two ways";

    const std::string drained = pty.ReadExactly(accepted, 10000);
    EXPECT_EQ(drained.size(), accepted) << "bytes the write counted as gone did not arrive";
    EXPECT_TRUE(WriteFile(h.h, "ok", 2, &written)) << GetLastError();
    EXPECT_EQ(pty.ReadExactly(2, 10000), "ok");
}

// --- modem lines -----------------------------------------------------------------

TEST(CommLayerTest, ModemLinesOnMemoryDevice)
{
    MemPort port("COM14");
    Handle h(CreateCommFileA("COM14"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(EscapeCommFunction(h.h, SETDTR));
    EXPECT_TRUE(port.device->Dtr());
    ASSERT_TRUE(EscapeCommFunction(h.h, CLRDTR));
    EXPECT_FALSE(port.device->Dtr());
    EXPECT_FALSE(EscapeCommFunction(h.h, 99));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    DWORD status = 0xFFFF;
    ASSERT_TRUE(GetCommModemStatus(h.h, &status));
    EXPECT_EQ(status & MS_DSR_ON, 0u);
    port.device->SetDsr(true);
    ASSERT_TRUE(GetCommModemStatus(h.h, &status));
    EXPECT_EQ(status & MS_DSR_ON, MS_DSR_ON);
}

// A pty has no modem lines: DTR and DSR calls fail with ERROR_NOT_SUPPORTED,
// which tells them apart from a failed device.
TEST(CommLayerTest, PtyHasNoModemLines)
{
    ModuleFolder folder;
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsOpen());
    ASSERT_TRUE(folder.Link("COM2", pty.SlavePath()));
    Handle h(CreateCommFileA("COM2"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(EscapeCommFunction(h.h, SETDTR));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    DWORD status = 0;
    EXPECT_FALSE(GetCommModemStatus(h.h, &status));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

// --- a device that goes away ------------------------------------------------------

// A pty whose far end closes: a wait ends with ERROR_GEN_FAILURE and every
// later call fails instead of blocking or reporting success. While the far
// end is open, an idle line never ends a wait by itself.
TEST(CommLayerTest, PtyFarEndGone)
{
    ModuleFolder folder;
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsOpen());
    ASSERT_TRUE(folder.Link("COM7", pty.SlavePath()));
    Handle h(CreateCommFileA("COM7"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(h.h, EV_RXCHAR));
    DWORD mask = 0;
    ASSERT_TRUE(WaitCommEvent(h.h, &mask));
    EXPECT_EQ(mask, 0u) << "the wake-up of SetCommMask";

    auto waiter = std::async(std::launch::async, [&] {
        DWORD m = 0;
        const BOOL ok = WaitCommEvent(h.h, &m);
        return std::make_pair(ok, GetLastError());
    });
    ASSERT_TRUE(pty.Write("x"));
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(waiter.get().first, TRUE) << "received bytes end the wait";
    BYTE buffer[16];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(h.h, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 1u);

    waiter = std::async(std::launch::async, [&] {
        DWORD m = 0;
        const BOOL ok = WaitCommEvent(h.h, &m);
        return std::make_pair(ok, GetLastError());
    });
    pty.CloseMaster();
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "the wait did not see the far end go";
    const auto [ok, error] = waiter.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, ERROR_GEN_FAILURE);

    EXPECT_FALSE(WaitCommEvent(h.h, &mask)) << "a second wait must fail at once too";
    COMSTAT status{};
    EXPECT_FALSE(ClearCommError(h.h, nullptr, &status));
    EXPECT_FALSE(ReadFile(h.h, buffer, sizeof buffer, &got));
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(h.h, "x", 1, &written));
    EXPECT_TRUE(h.Close());
}

// An in-memory device made to fail: the waiting thread is told, every call
// fails, and the device cannot be opened again.
TEST(CommLayerTest, MemoryDeviceFails)
{
    MemPort port("COM15");
    Handle h(CreateCommFileA("COM15"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetCommMask(h.h, EV_RXCHAR));
    DWORD mask = 0;
    ASSERT_TRUE(WaitCommEvent(h.h, &mask));

    auto waiter = std::async(std::launch::async, [&] {
        DWORD m = 0;
        const BOOL ok = WaitCommEvent(h.h, &m);
        return std::make_pair(ok, GetLastError());
    });
    port.device->Fail();
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(waiter.get(), std::make_pair(FALSE, ERROR_GEN_FAILURE));

    COMSTAT status{};
    EXPECT_FALSE(ClearCommError(h.h, nullptr, &status));
    DWORD n = 0;
    EXPECT_FALSE(GetCommOutputQueue(h.h, &n));
    EXPECT_FALSE(WriteFile(h.h, "x", 1, &n));
    EXPECT_FALSE(EscapeCommFunction(h.h, SETDTR));
    EXPECT_FALSE(GetCommModemStatus(h.h, &n));
    EXPECT_TRUE(h.Close());
    EXPECT_EQ(OpenError("COM15"), ERROR_FILE_NOT_FOUND);
}

// A failing read loses the bytes it would have read; reads after the fault
// clears deliver the bytes fed since.
TEST(CommLayerTest, FailedReadLosesItsBytes)
{
    MemPort port("COM16");
    Handle h(CreateCommFileA("COM16"));
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    port.device->FeedFromHost("lost");
    port.device->FailReads(true);
    BYTE buffer[16];
    DWORD got = 99;
    EXPECT_FALSE(ReadFile(h.h, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 0u);
    port.device->FailReads(false);
    port.device->FeedFromHost("kept");
    ASSERT_TRUE(ReadFile(h.h, buffer, sizeof buffer, &got));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "kept");

    port.device->FailWrites(true);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(h.h, "x", 1, &written));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_EQ(port.device->TakeWritten(), "");
}

}  // namespace
