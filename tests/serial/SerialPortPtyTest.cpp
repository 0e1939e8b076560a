// CSerialPort end to end on pseudo-terminals: bytes both ways, the line
// parameters, raw mode, the ring of slots under load, exclusive opens, and a
// far end that goes away.
#include <gtest/gtest.h>

#include <memory>

#include "support/comm_pty.h"
#include "serial/SerialPort.h"
#include "serial_test_support.h"

namespace {

using namespace std::chrono_literals;
using serial_test::kDataMsg;
using serial_test::MessageQueue;
using serial_test::ModuleFolder;
using serial_test::ReceiveBytes;
using serial_test::Received;

// A pty wired as one COM port beside a module path of the test's own.
class SerialPortPtyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_folder.Link("COM3", m_pty.SlavePath()));
    }

    bool OpenPort(CSerialPort& port, int row = 0, DWORD baud = 38400, BYTE data = 8, int stop = 1,
                  int parity = 0)
    {
        return port.Open("COM3", baud, data, stop, parity, &m_window, kDataMsg, row);
    }

    ModuleFolder m_folder;
    PseudoTerminal m_pty;
    MessageQueue m_window;
};

// Bytes from the host arrive through the data messages, with the row and
// the port's generation; bytes written reach the host. Raw mode: a CR stays
// a CR and an LF gets no CR added, either way.
TEST_F(SerialPortPtyTest, BytesBothWaysRaw)
{
    auto port = std::make_unique<CSerialPort>();
    ASSERT_TRUE(OpenPort(*port, 4));
    EXPECT_TRUE(port->IsOpen());
    EXPECT_TRUE(port->HasReader());

    const std::string fromHost = "ATA\r\nline\n\x03\x11\x13\x7f\xff";
    ASSERT_TRUE(m_pty.Write(fromHost));
    const Received r = ReceiveBytes(m_window, *port, fromHost.size());
    EXPECT_EQ(r.bytes, fromHost);
    EXPECT_TRUE(r.wellFormed);
    ASSERT_FALSE(r.slots.empty());
    EXPECT_EQ(r.slots.front(), 0) << "a new object's first message names slot 0";

    const std::string toHost = "CONNECT 38400\r\nx\ny\r";
    port->Write(toHost.data(), static_cast<int>(toHost.size()));
    EXPECT_EQ(m_pty.ReadExactly(toHost.size(), 10000), toHost);

    port->Close();
    EXPECT_FALSE(port->IsOpen());
    EXPECT_FALSE(port->HasReader());
}

// The line parameters of Open land in the slave's termios, on top of raw
// mode with CLOCAL and CREAD. (A pty keeps 8 data bits without parity
// whatever is set; the in-memory device's tests show those two.)
TEST_F(SerialPortPtyTest, LineParameters)
{
    const struct {
        DWORD baud;
        BYTE data;
        int stop;
        int parity;
        int stopBits;
        bool parityCheck;
    } cases[] = {
        {38400, 8, 1, 1, 1, true},   {9600, 7, 2, 2, 2, true},
        {115200, 8, 1, 0, 1, false}, {57600, 7, 3, 0, 1, false},  // any stop value but 2 is one stop bit
        {14400, 8, 2, 0, 2, false},  // speeds without a termios constant, set exactly
        {28800, 8, 1, 1, 1, true},
    };
    for (const auto& c : cases) {
        CSerialPort port;
        ASSERT_TRUE(OpenPort(port, 0, c.baud, c.data, c.stop, c.parity)) << c.baud;
        TtySettings s;
        ASSERT_TRUE(m_pty.SlaveSettings(s));
        EXPECT_EQ(s.baud, c.baud);
        EXPECT_EQ(s.stopBits, c.stopBits) << c.baud;
        EXPECT_EQ(s.parityCheck, c.parityCheck) << c.baud;
        EXPECT_TRUE(s.raw) << c.baud;
        EXPECT_TRUE(s.clocal) << c.baud;
        EXPECT_TRUE(s.cread) << c.baud;
        EXPECT_FALSE(s.rtsCtsFlow) << c.baud;
    }
}

// A speed the line refuses leaves the line's speed as it was, and the port
// still opens and carries bytes.
TEST_F(SerialPortPtyTest, RefusedSpeedStillOpens)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port, 0, 0));
    TtySettings s;
    ASSERT_TRUE(m_pty.SlaveSettings(s));
    EXPECT_NE(s.baud, 0u) << "a speed of 0 would hang the line up";
    ASSERT_TRUE(m_pty.Write("hi"));
    EXPECT_EQ(ReceiveBytes(m_window, port, 2).bytes, "hi");
}

// One megabyte from the host arrives whole and in order, in slots of at most
// 2048 bytes, the slot numbers running up by one and wrapping from 255 to 0.
TEST_F(SerialPortPtyTest, MegabyteInOrderThroughTheRing)
{
    auto port = std::make_unique<CSerialPort>();
    ASSERT_TRUE(OpenPort(*port, 1));
    const std::string data = serial_test::Pattern(1 << 20, 7);

    std::thread host([&] { EXPECT_TRUE(m_pty.Write(data, 60000)); });
    const Received r = ReceiveBytes(m_window, *port, data.size());
    host.join();

    ASSERT_EQ(r.bytes.size(), data.size());
    EXPECT_TRUE(r.bytes == data) << "bytes lost, doubled or out of order";
    EXPECT_TRUE(r.wellFormed);
    bool wrapped = false;
    for (size_t i = 0; i < r.slots.size(); ++i) {
        ASSERT_LE(r.counts[i], static_cast<DWORD>(COM_SLOT_SIZE)) << "message " << i;
        ASSERT_EQ(r.slots[i], static_cast<int>(i % COM_SLOT_COUNT)) << "message " << i;
        wrapped = wrapped || (i > 0 && r.slots[i - 1] == 255 && r.slots[i] == 0);
    }
    EXPECT_TRUE(wrapped) << r.slots.size() << " messages never wrapped";
}

// Bytes written in one call larger than the output queue all arrive.
TEST_F(SerialPortPtyTest, LongWriteArrivesWhole)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port));
    const std::string data = serial_test::Pattern(5000, 3);
    std::string got;
    std::thread host([&] { got = m_pty.ReadExactly(data.size(), 30000); });
    port.Write(data.data(), static_cast<int>(data.size()));
    host.join();
    EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes";
}

// A port held by another CSerialPort, or by another opener holding the
// flock, does not open a second time and starts no reader; root obeys too.
TEST_F(SerialPortPtyTest, SecondOpenFails)
{
    CSerialPort first;
    ASSERT_TRUE(OpenPort(first));
    CSerialPort second;
    EXPECT_FALSE(OpenPort(second, 1));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_FALSE(second.HasReader());
    EXPECT_EQ(second.PortIndex(), 1) << "Open stores its arguments before trying";
    first.Close();

    RawTty other(m_pty.SlavePath(), true);
    ASSERT_TRUE(other.IsOpen());
    EXPECT_FALSE(OpenPort(second));
    EXPECT_FALSE(second.HasReader());
}

// Open on an open object closes it and opens again; bytes flow afterwards.
TEST_F(SerialPortPtyTest, ReopenOnOpenObject)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port));
    ASSERT_TRUE(OpenPort(port, 2));
    EXPECT_EQ(port.PortIndex(), 2);
    ASSERT_TRUE(m_pty.Write("again"));
    EXPECT_EQ(ReceiveBytes(m_window, port, 5).bytes, "again");
}

// The far end closing ends the reader by itself, without a busy loop; writes
// and DTR changes then fail silently and Close still finishes.
TEST_F(SerialPortPtyTest, FarEndGoneEndsReader)
{
    CSerialPort port;
    ASSERT_TRUE(OpenPort(port));
    ASSERT_TRUE(m_pty.Write("bye"));
    EXPECT_EQ(ReceiveBytes(m_window, port, 3).bytes, "bye");
    EXPECT_FALSE(port.WaitForReaderEnd(0ms));

    m_pty.CloseMaster();
    EXPECT_TRUE(port.WaitForReaderEnd(10s)) << "the reader kept running on a gone device";
    // A failed read may have posted one empty message; a reader spinning on
    // the gone device would have posted many.
    EXPECT_LE(m_window.Size(), 1u);
    port.Write("x", 1);
    port.SetDTR(true);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

}  // namespace
