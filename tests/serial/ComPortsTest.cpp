// COM port discovery over linked ptys and in-memory devices.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/comm_pty.h"
#include "support/memserial.h"
#include "serial/SerialPort.h"
#include "serial_test_support.h"

namespace {

using serial_test::ModuleFolder;

bool Contains(const std::vector<std::string>& v, const std::string& s)
{
    return std::find(v.begin(), v.end(), s) != v.end();
}

int Number(const std::string& name)
{
    return std::stoi(name.substr(3));
}

// Free linked ports are found, COM51 never is, and the list runs in
// ascending port number (COM2 before COM10), only COM1 to COM50.
TEST(ComPortsTest, ListsFreePortsInOrder)
{
    ModuleFolder folder;
    PseudoTerminal p2, p7, p10, p50, p51;
    for (auto* p : {&p2, &p7, &p10, &p50, &p51})
        ASSERT_TRUE(p->IsOpen());
    // Linked in an order of their own, not the numbers'.
    ASSERT_TRUE(folder.Link("COM51", p51.SlavePath()));
    ASSERT_TRUE(folder.Link("COM10", p10.SlavePath()));
    ASSERT_TRUE(folder.Link("COM7", p7.SlavePath()));
    ASSERT_TRUE(folder.Link("COM50", p50.SlavePath()));
    ASSERT_TRUE(folder.Link("COM2", p2.SlavePath()));

    std::vector<std::string> ports{"stale entry"};
    CSerialPort::EnumComPorts(ports);
    EXPECT_FALSE(Contains(ports, "stale entry")) << "the list was not emptied first";
    for (const char* name : {"COM2", "COM7", "COM10", "COM50"})
        EXPECT_TRUE(Contains(ports, name)) << name;
    EXPECT_FALSE(Contains(ports, "COM51"));
    for (size_t i = 0; i < ports.size(); ++i) {
        ASSERT_EQ(ports[i].rfind("COM", 0), 0u) << ports[i];
        EXPECT_GE(Number(ports[i]), 1);
        EXPECT_LE(Number(ports[i]), 50);
        if (i > 0) {
            EXPECT_LT(Number(ports[i - 1]), Number(ports[i])) << "not ascending at " << ports[i];
        }
    }
    EXPECT_TRUE(CSerialPort::IsComPortPresent("COM51")) << "COM51 itself opens; only the scan stops at 50";
}

// A port this program holds open is left out, and is back once it is
// closed; a held port is not disturbed by the scan.
TEST(ComPortsTest, HeldPortIsLeftOut)
{
    ModuleFolder folder;
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsOpen());
    ASSERT_TRUE(folder.Link("COM7", pty.SlavePath()));
    serial_test::MessageQueue window;

    CSerialPort port;
    ASSERT_TRUE(port.Open("COM7", 38400, 8, 1, 0, &window, serial_test::kDataMsg, 0));
    std::vector<std::string> ports;
    CSerialPort::EnumComPorts(ports);
    EXPECT_FALSE(Contains(ports, "COM7"));
    EXPECT_FALSE(CSerialPort::IsComPortPresent("COM7"));

    ASSERT_TRUE(pty.Write("still here"));
    EXPECT_EQ(serial_test::ReceiveBytes(window, port, 10).bytes, "still here");

    port.Close();
    CSerialPort::EnumComPorts(ports);
    EXPECT_TRUE(Contains(ports, "COM7"));
}

// The presence test changes nothing on the port: a pty in its cooked
// default stays cooked. A port the driver set up keeps raw mode after its
// close, so a pty does not start echoing its far end's bytes.
TEST(ComPortsTest, PresenceTestLeavesSettingsAlone)
{
    ModuleFolder folder;
    PseudoTerminal pty;
    ASSERT_TRUE(pty.IsOpen());
    ASSERT_TRUE(folder.Link("COM9", pty.SlavePath()));
    TtySettings before;
    ASSERT_TRUE(pty.SlaveSettings(before));
    ASSERT_FALSE(before.raw) << "a fresh pty is expected to start cooked";

    ASSERT_TRUE(CSerialPort::IsComPortPresent("COM9"));
    TtySettings after;
    ASSERT_TRUE(pty.SlaveSettings(after));
    EXPECT_FALSE(after.raw);
    EXPECT_EQ(after.baud, before.baud);

    serial_test::MessageQueue window;
    {
        CSerialPort port;
        ASSERT_TRUE(port.Open("COM9", 9600, 8, 1, 0, &window, serial_test::kDataMsg, 0));
    }
    ASSERT_TRUE(pty.SlaveSettings(after));
    EXPECT_TRUE(after.raw);
    EXPECT_EQ(after.baud, 9600u);
    {
        CSerialPort port;  // a speed the line refuses leaves it as it was, raw mode still stays
        ASSERT_TRUE(port.Open("COM9", 0, 8, 1, 0, &window, serial_test::kDataMsg, 0));
    }
    ASSERT_TRUE(pty.SlaveSettings(after));
    EXPECT_TRUE(after.raw);
    EXPECT_EQ(after.baud, 9600u);
}

// In-memory devices are found the same way: present while free, absent while
// open, and a failed one is gone.
TEST(ComPortsTest, MemoryDevices)
{
    ModuleFolder folder;  // keeps any com/ links of the machine's own out
    auto dev = MemSerialDevice::Register("COM33");
    EXPECT_TRUE(CSerialPort::IsComPortPresent("COM33"));
    EXPECT_FALSE(dev->IsOpen()) << "the presence test leaves the port closed";
    const HANDLE h = CreateCommFileA("COM33");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CSerialPort::IsComPortPresent("COM33"));
    CloseHandle(h);
    dev->Fail();
    EXPECT_FALSE(CSerialPort::IsComPortPresent("COM33"));
    MemSerialDevice::Unregister("COM33");
}

}  // namespace
