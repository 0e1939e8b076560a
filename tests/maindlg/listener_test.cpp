// The listener under a burst of callers, and what every caller's socket is
// given at the accept.
#include "relay_fixture.h"

#include <vector>

using namespace relaytest;

namespace {

int ConnectWithoutWaiting(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

// Waits, without running the relay's loop, until the system has completed
// every connection.
bool AllConnected(const std::vector<int>& fds, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    size_t connected = 0;
    while (connected < fds.size() && std::chrono::steady_clock::now() < end) {
        connected = 0;
        for (int fd : fds) {
            pollfd p{fd, POLLOUT, 0};
            int err = 1;
            socklen_t len = sizeof err;
            if (::poll(&p, 1, 0) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
                ++connected;
        }
        ::poll(nullptr, 0, 50);
    }
    return connected == fds.size();
}

// Everything a caller receives up to the end of the stream; false when that
// end does not come.
bool ReadToEnd(int fd, std::string& got)
{
    char buf[256];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
        got.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

// Far more callers than one turn of the relay accepts arrive while it is
// busy: the system queues every one of them for the relay, and each is
// refused with the FULL text and the end of the stream.
TEST_F(RelayTest, BurstOfCallersIsAnsweredToTheLast)
{
    constexpr size_t kBurst = 150;
    Run("[TEXT]\nFULL=busy\\r\\n\n[LOG]\nENABLE=0\n", [&](CSkiffaDlg& dlg) {
        std::vector<int> fds;
        for (size_t i = 0; i < kBurst; ++i)
            fds.push_back(ConnectWithoutWaiting(ListenPort(dlg)));
        EXPECT_TRUE(AllConnected(fds, 10s)) << "callers left outside the listen queue";
        std::vector<std::string> got(kBurst);
        std::vector<bool> ended(kBurst, false);
        EXPECT_TRUE(WaitUntil(
            [&] {
                for (size_t i = 0; i < kBurst; ++i)
                    ended[i] = ended[i] || ReadToEnd(fds[i], got[i]);
                return std::all_of(ended.begin(), ended.end(), [](bool e) { return e; });
            },
            30s));
        for (size_t i = 0; i < kBurst; ++i)
            EXPECT_EQ(got[i], "busy\r\n") << "caller " << i << (ended[i] ? "" : " never saw the end");
        for (int fd : fds)
            ::close(fd);
    });
}

// A caller's socket gives up on bytes or an end it sent that stay
// unacknowledged for two minutes, so a caller whose network vanished does
// not keep his line for the quarter of an hour the system would try.
TEST_F(RelayTest, CallerSocketGivesUpAfterTwoMinutes)
{
    auto dev = Device("COM71");
    Run("[COM1]\nNAME=COM71\nRING=0\nCONNECT=0\n[COM2]\nNAME=\n[LOG]\nENABLE=0\n", [&](CSkiffaDlg& dlg) {
        auto caller = Call(dlg);
        ASSERT_TRUE(dlg.m_aPort[0].HasCaller());
        EXPECT_EQ(GiveUpSeconds(dlg.m_aPort[0].m_sock), 120);
    });
}
