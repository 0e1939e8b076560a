// CSerialPort on the in-memory device: DTR and its trace lines, Close, the
// trace before writes, failed reads and writes, a full output queue, the
// ring's hand-over and its back-pressure, and the data message's generation.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/base/clock.h"
#include "support/memserial.h"
#include "serial/SerialPort.h"
#include "serial_test_support.h"

namespace {

using namespace std::chrono_literals;
using serial_test::CurrentDirectory;
using serial_test::kDataMsg;
using serial_test::Message;
using serial_test::MessageQueue;
using serial_test::ReceiveBytes;

std::vector<std::string> TraceLines(const CurrentDirectory& cwd)
{
    std::ifstream in(cwd.File("debug.log"), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(line.find(',') + 1));  // without the time
    return lines;
}

class SerialPortMemTest : public ::testing::Test {
protected:
    void SetUp() override { m_device = MemSerialDevice::Register("COM5"); }
    void TearDown() override { MemSerialDevice::Unregister("COM5"); }

    bool OpenPort(CSerialPort& port, int row = 0, bool trace = false)
    {
        const bool ok = port.Open("COM5", 38400, 8, 1, 0, &m_window, kDataMsg, row);
        if (ok)
            port.SetDebugLog(trace ? TRUE : FALSE);
        return ok;
    }

    CurrentDirectory m_cwd;
    std::shared_ptr<MemSerialDevice> m_device;
    MessageQueue m_window;
};

// DTR goes up and down with a trace line each; on a closed object SetDTR
// touches nothing and traces nothing.
TEST_F(SerialPortMemTest, DtrAndItsTrace)
{
    CSerialPort port;
    port.SetDebugLog(TRUE);
    port.SetDTR(true);
    EXPECT_FALSE(std::filesystem::exists(m_cwd.File("debug.log"))) << "a closed object traced";

    ASSERT_TRUE(OpenPort(port, 0, true));
    port.SetDTR(true);
    EXPECT_TRUE(m_device->Dtr());
    port.SetDTR(false);
    EXPECT_FALSE(m_device->Dtr());
    EXPECT_EQ(TraceLines(m_cwd), (std::vector<std::string>{"DTR,ON", "DTR,OFF"}));

    port.SetDebugLog(FALSE);
    port.SetDTR(true);
    EXPECT_TRUE(m_device->Dtr()) << "DTR moves without the trace too";
    EXPECT_EQ(TraceLines(m_cwd).size(), 2u);
}

// Close drops DTR (traced) and closes the port; a second Close and the
// destructor do nothing more. After a drop of DTR for the close, as the
// lines are closed for a settings change, Close does not drop it again.
TEST_F(SerialPortMemTest, CloseTwiceDropsDtrOnce)
{
    {
        CSerialPort port;
        ASSERT_TRUE(OpenPort(port, 0, true));
        port.SetDTR(true);
        port.Close();
        ASSERT_TRUE(OpenPort(port, 0, true));
        port.DropDtrForClose();
        port.Close();
        EXPECT_FALSE(m_device->Dtr());
        EXPECT_FALSE(m_device->IsOpen());
        EXPECT_FALSE(port.HasReader());
        port.Close();
    }
    EXPECT_EQ(TraceLines(m_cwd), (std::vector<std::string>{"DTR,ON", "DTR,OFF", "DTR,OFF"}));
}

// Open on an open object passes through Close: DTR dropped and traced, a
// new reader, and the object open again.
TEST_F(SerialPortMemTest, OpenOnOpenObjectDropsDtr)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port, 0, true));
    port.SetDTR(true);
    ASSERT_TRUE(OpenPort(port, 0, true));
    EXPECT_FALSE(m_device->Dtr());
    EXPECT_TRUE(m_device->IsOpen());
    EXPECT_EQ(TraceLines(m_cwd), (std::vector<std::string>{"DTR,ON", "DTR,OFF"}));
    m_device->FeedFromHost("ok");
    EXPECT_EQ(ReceiveBytes(m_window, port, 2).bytes, "ok");
}

// Write traces its bytes with the row's tag before it writes, also when the
// write then fails, and also for a write of no bytes.
TEST_F(SerialPortMemTest, WriteTracesFirst)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port, 3, true));
    port.Write("ATZ\r", 4);
    EXPECT_EQ(m_device->TakeWritten(), "ATZ\r");

    m_device->FailWrites(true);
    port.Write("OK\r\n", 4);
    EXPECT_EQ(m_device->TakeWritten(), "");
    port.Write(nullptr, 0);
    EXPECT_EQ(TraceLines(m_cwd), (std::vector<std::string>{"S3,ATZ(0d)", "S3,OK(0d)(0a)", "S3,"}));
}

// More than 2048 bytes go out in pieces of at most 2048, all of them.
TEST_F(SerialPortMemTest, LongWriteInPieces)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port));
    const std::string data = serial_test::Pattern(5000);
    port.Write(data.data(), static_cast<int>(data.size()));
    EXPECT_TRUE(m_device->TakeWritten() == data);
    EXPECT_EQ(m_device->TakeWriteSizes(), (std::vector<size_t>{2048, 2048, 904}));
}

// Write never waits for the device: while its output is full the bytes wait
// in order, a DTR change keeps its place behind them, and the window hears
// once the queue has drained below its bound. The relay's own texts stop at
// the ceiling, a caller's bytes do not. A device that fails drops what waits.
TEST_F(SerialPortMemTest, FullOutputQueueKeepsBytesInOrder)
{
    constexpr UINT kRoomMsg = WM_APP + 5;
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port, 4));
    m_device->SetOutputQueueFull(true);
    const std::string data = serial_test::Pattern(COM_OUTPUT_BOUND + 100);
    port.Write(data.data(), static_cast<int>(data.size()));
    port.SetDTR(true);
    port.Write("tail", 4);
    EXPECT_TRUE(port.OutputFull(kRoomMsg));
    EXPECT_FALSE(m_device->Dtr()) << "DTR rose before the bytes handed over before it";
    std::string expected = data + "tail";
    for (size_t i = 0; i < COM_OUTPUT_CEILING; ++i)
        port.WriteOwnText("OK\r\n", 4);
    EXPECT_LE(port.OutputQueued(), COM_OUTPUT_CEILING) << "the relay's texts grew the queue without end";
    for (size_t kept = port.OutputQueued(); expected.size() < kept;)
        expected += "OK\r\n";
    port.Write(data.data(), static_cast<int>(data.size()));
    expected += data;

    m_device->SetOutputQueueFull(false);
    ASSERT_TRUE(m_device->WaitForWritten(expected.size(), 30s));
    EXPECT_TRUE(m_device->TakeWritten() == expected);
    EXPECT_TRUE(m_device->WaitForDtr(true, 10s));
    const auto room = m_window.Next(10s);
    ASSERT_TRUE(room) << "no word that the queue has room";
    EXPECT_EQ(room->msg, kRoomMsg);
    EXPECT_EQ(room->wParam, 4u);
    EXPECT_EQ(static_cast<DWORD>(room->lParam), port.Generation());

    m_device->SetOutputQueueFull(true);
    port.Write("lost", 4);
    m_device->Fail();
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (port.OutputQueued() != 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(port.OutputQueued(), 0u) << "a failed device kept its queue";
}

// A call that ends while a write waits for a device that takes nothing: when
// that write times out, the bytes before the call's DTR drop are given up
// and DTR drops, without a second time-out.
TEST_F(SerialPortMemTest, CallEndDuringAStalledWriteDropsDtrAtItsTimeOut)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port));
    port.SetDTR(true);
    m_device->SetOutputQueueFull(true);
    const std::string data = serial_test::Pattern(3 * COM_SLOT_SIZE);
    port.Write(data.data(), static_cast<int>(data.size()));
    ASSERT_TRUE(m_device->WaitForStalledWrite(10s));
    port.SetDTR(false);
    m_device->TimeOutStalledWrite();
    EXPECT_TRUE(m_device->WaitForDtr(false, 10s)) << "DTR waited for another write's time-out";
    EXPECT_EQ(port.OutputQueued(), 0u);
}

// More than one slot's worth queued at once is read at once into slots of
// 2048 bytes and the rest, before the reader waits again.
TEST_F(SerialPortMemTest, QueuedBytesFillWholeSlots)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port, 2));
    const std::string data = serial_test::Pattern(5000);
    m_device->FeedFromHost(data);
    const auto r = ReceiveBytes(m_window, port, data.size());
    EXPECT_TRUE(r.bytes == data);
    EXPECT_EQ(r.counts, (std::vector<DWORD>{2048, 2048, 904}));
    EXPECT_EQ(r.slots, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(r.wellFormed);
}

// Exactly one slot's worth fills one slot; the look for more that follows a
// full read finds nothing and posts nothing, so the next bytes take the next
// slot and no empty message comes between.
TEST_F(SerialPortMemTest, FullSlotThenNothingPostsNoEmptyMessage)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port));
    const std::string data = serial_test::Pattern(COM_SLOT_SIZE);
    m_device->FeedFromHost(data);
    const auto first = ReceiveBytes(m_window, port, data.size());
    EXPECT_EQ(first.counts, (std::vector<DWORD>{COM_SLOT_SIZE}));
    EXPECT_FALSE(m_window.Next(100ms)) << "a message after the full slot";
    m_device->FeedFromHost("z");
    const auto next = ReceiveBytes(m_window, port, 1);
    EXPECT_EQ(next.bytes, "z");
    EXPECT_EQ(next.slots, (std::vector<int>{1}));
}

// A failed read still posts its message, with a count of 0; the next read
// delivers again.
TEST_F(SerialPortMemTest, FailedReadPostsEmptySlot)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port));
    m_device->FailReads(true);
    m_device->FeedFromHost("abc");
    const auto failed = m_window.Next(10s);
    ASSERT_TRUE(failed) << "no message for the failed read";
    EXPECT_EQ(CSerialPort::SlotOfMessage(failed->lParam), 0);
    BYTE buffer[COM_SLOT_SIZE];
    EXPECT_EQ(port.TakeSlot(0, buffer), 0u);
    m_device->FailReads(false);
    m_device->FeedFromHost("xyz");
    const auto good = ReceiveBytes(m_window, port, 3);
    EXPECT_EQ(good.bytes, "xyz");
    EXPECT_EQ(good.slots, (std::vector<int>{1}));
}

// The reader never overwrites a slot whose message has not been taken: 256
// slots ahead of its consumer it waits, and goes on once a slot is taken.
// Close wakes a reader waiting so.
TEST_F(SerialPortMemTest, ReaderWaitsForConsumer)
{
    auto port = std::make_unique<CSerialPort>();
    ASSERT_TRUE(OpenPort(*port));
    std::vector<Message> held;
    for (int i = 0; i < COM_SLOT_COUNT; ++i) {
        m_device->FeedFromHost(std::string(1, static_cast<char>(i)));
        auto m = m_window.Next(10s);
        ASSERT_TRUE(m) << "message " << i;
        ASSERT_EQ(CSerialPort::SlotOfMessage(m->lParam), i);
        held.push_back(*m);
    }
    m_device->FeedFromHost("next");
    // Nothing may come while the ring is full; a reader that overtook its
    // consumer would post within this time.
    EXPECT_FALSE(m_window.Next(300ms)) << "the reader refilled a slot nobody had taken";

    BYTE buffer[COM_SLOT_SIZE];
    ASSERT_EQ(port->TakeSlot(CSerialPort::SlotOfMessage(held[0].lParam), buffer), 1u);
    EXPECT_EQ(buffer[0], 0) << "slot 0 still holds its first read";
    auto m = m_window.Next(10s);
    ASSERT_TRUE(m) << "the reader did not go on after a slot was taken";
    EXPECT_EQ(CSerialPort::SlotOfMessage(m->lParam), 0);
    ASSERT_EQ(port->TakeSlot(0, buffer), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "next");
    for (int i = 1; i < 40; ++i) {
        ASSERT_EQ(port->TakeSlot(i, buffer), 1u);
        EXPECT_EQ(buffer[0], i) << "slot " << i;
    }

    // Fill the 40 free slots again, so the reader waits with bytes queued,
    // then close.
    for (int i = 0; i < 40; ++i) {
        m_device->FeedFromHost("z");
        ASSERT_TRUE(m_window.Next(10s)) << "refill " << i;
    }
    m_device->FeedFromHost("waits");
    port->Close();
    EXPECT_FALSE(port->HasReader());
    EXPECT_FALSE(m_device->IsOpen());
}

// Messages that cannot be posted (no window) free their slots, so the
// reader never stalls on a consumer that will not come.
TEST_F(SerialPortMemTest, UnpostableMessagesDoNotStallReader)
{
    CSerialPort port;
    m_window.Refuse(true);
    ASSERT_TRUE(OpenPort(port));
    for (int i = 0; i < 2 * COM_SLOT_COUNT; ++i) {
        m_device->FeedFromHost("x");
        ASSERT_TRUE(m_device->WaitForInputTaken(10s)) << "the reader stalled at read " << i;
    }
}

// Every opening has its own nonzero generation, carried in each message
// beside the slot: a message the first opening left queued is recognised
// after the same object is opened again, whose ring starts again at slot 0.
TEST_F(SerialPortMemTest, MessagesCarryTheGeneration)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port, 6));
    const DWORD first = port.Generation();
    m_device->FeedFromHost("old");
    auto stale = m_window.Next(10s);
    ASSERT_TRUE(stale);
    ASSERT_TRUE(OpenPort(port, 6));
    const DWORD second = port.Generation();
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second) << "a second Open kept the first opening's generation";

    m_device->FeedFromHost("new");
    const auto fresh = ReceiveBytes(m_window, port, 3);
    EXPECT_EQ(fresh.bytes, "new");
    EXPECT_TRUE(fresh.wellFormed);
    EXPECT_EQ(stale->wParam, 6u);
    EXPECT_EQ(CSerialPort::SlotOfMessage(stale->lParam), 0);
    EXPECT_EQ(fresh.slots, std::vector<int>{0}) << "same row, same slot";
    EXPECT_EQ(CSerialPort::GenerationOfMessage(stale->lParam), first);

    for (const int slot : {0, 1, 127, 255}) {
        const LPARAM l = static_cast<LPARAM>(slot) | (static_cast<LPARAM>(0xFFFFFFFFu) << 8);
        EXPECT_EQ(CSerialPort::SlotOfMessage(l), slot);
        EXPECT_EQ(CSerialPort::GenerationOfMessage(l), 0xFFFFFFFFu);
    }
}

// DSR follows the device's line; a closed port counts as off.
TEST_F(SerialPortMemTest, DsrOfTheLine)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port));
    m_device->SetDsr(true);
    EXPECT_TRUE(port.DsrOn());
    m_device->SetDsr(false);
    EXPECT_FALSE(port.DsrOn());
    m_device->SetDsr(true);
    port.Close();
    EXPECT_FALSE(port.DsrOn());
}

// The port's line gets the record's parameters, RTS held on, and the
// time-outs: reads return at once, writes give up after 10 ms a byte + 100 ms.
TEST_F(SerialPortMemTest, LineParametersOnDevice)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM5", 9600, 7, 2, 2, &m_window, kDataMsg, 0));
    const DCB dcb = m_device->LineState();
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);
    const COMMTIMEOUTS t = m_device->Timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 100u);
}

// A device that fails while open ends the reader; Write and SetDTR then fail
// silently.
TEST_F(SerialPortMemTest, DeviceFailureEndsReader)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port));
    m_device->Fail();
    EXPECT_TRUE(port.WaitForReaderEnd(10s));
    port.Write("x", 1);
    port.SetDTR(true);
    EXPECT_EQ(m_device->TakeWritten(), "");
    EXPECT_FALSE(m_device->Dtr());
    port.Close();
    EXPECT_FALSE(m_device->IsOpen());
}

// A reader thread that cannot be started fails the open: the port is closed
// again and no thread is left.
TEST_F(SerialPortMemTest, ReaderThatCannotStartFailsOpen)
{
    CSerialPort port;
    CSerialPort::FailReaderStartForTesting(true);
    const bool opened = OpenPort(port);
    CSerialPort::FailReaderStartForTesting(false);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.HasReader());
    EXPECT_FALSE(m_device->IsOpen());
    EXPECT_TRUE(port.WaitForReaderEnd(0ms));
    EXPECT_TRUE(OpenPort(port)) << "the port was left held";
}

}  // namespace
