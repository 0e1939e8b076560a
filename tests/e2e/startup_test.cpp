// End to end: a start with nobody at a display. The program's message boxes
// cannot be answered there; each one goes to stderr with the system's reason
// and start-up goes on to the lines after it.
#include <sys/file.h>

#include "e2e/relay_test.h"

namespace e2e {
namespace {

class Startup : public RelayTest {};

// COM1 is wired to a device that does not exist, COM2 to a line another
// program holds; both are reported with their device and reason, and a
// caller gets COM3.
TEST_F(Startup, OffscreenStartReportsBrokenPortsAndServesTheRest)
{
    RelaySetup setup;
    setup.lines.assign(3, LineSetup());
    for (LineSetup& line : setup.lines)
        line.m_nRing = 1;
    setup.lines[0].pty = false;
    ASSERT_EQ(relay_.Prepare(setup), "");
    std::error_code ec;
    std::filesystem::create_symlink("/dev/skiffa-no-such-device", relay_.folder() / "com" / "COM1", ec);
    ASSERT_FALSE(ec) << ec.message();
    // The other program: it holds COM2's device open with an exclusive lock.
    Fd holder(::open(relay_.host(1).slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(holder) << ErrnoText(errno);
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);

    ASSERT_EQ(relay_.Launch(), "");
    started_ = true;
    ASSERT_TRUE(relay_.host(2).WaitHeld()) << "COM3 was never opened: " << relay_.State() << "\n"
                                           << relay_.Output();
    std::optional<TcpCaller> caller;
    ASSERT_NO_FATAL_FAILURE(CallIn(caller));
    ASSERT_TRUE(Receives(relay_.host(2), "RING\r\n", "host 3"));

    const std::string out = relay_.Output();
    const std::string com1 = "COM1 (" + (relay_.folder() / "com" / "COM1").string() +
                             " -> /dev/skiffa-no-such-device): No such file or directory]";
    const std::string com2 = "COM2 (" + (relay_.folder() / "com" / "COM2").string() + " -> " +
                             relay_.host(1).slave_path() + "): Device or resource busy";
    EXPECT_NE(out.find("COM Port オープンエラー [" + com1), std::string::npos) << out;
    EXPECT_NE(out.find("COM Port オープンエラー [" + com2), std::string::npos) << out;
    EXPECT_LT(out.find(com1), out.find(com2)) << "in the order of the lines";
}

// Started with no display named and no platform chosen (over ssh, by a
// service manager), the program runs on the offscreen platform and says so;
// every line on stderr, the toolkit's own too, starts with the program's name,
// and the toolkit's notice of a missing XDG_RUNTIME_DIR is not among them.
TEST_F(Startup, NoDisplayRunsOffscreenAndSaysSoOnOneLine)
{
    ASSERT_EQ(relay_.Prepare(RelaySetup()), "");
    ASSERT_EQ(relay_.Launch({"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=",
                             "XDG_RUNTIME_DIR="}),
              "");
    started_ = true;
    std::string why;
    ASSERT_TRUE(relay_.WaitLinesOpen(&why)) << why << "; " << relay_.State() << "\n" << relay_.Output();
    ASSERT_NO_FATAL_FAILURE(StopRelay());

    const std::string out = relay_.Output();
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.starts_with("skiffa: ")) << line;
    EXPECT_NE(out.find("skiffa: no display ["), std::string::npos) << out;
    EXPECT_EQ(out.find("XDG_RUNTIME_DIR"), std::string::npos) << out;
}

}  // namespace
}  // namespace e2e
