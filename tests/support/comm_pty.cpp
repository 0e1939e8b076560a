// Pseudo-terminal pairs and directly opened ttys for tests, tools and
// benchmarks.
#include "support/comm_pty.h"
#include "platform/comm/comm_speed.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/base/eintr.h"
#include "platform/comm/tty_speed.h"

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on fd until the deadline; false on time-out, a hang-up
// or an error.
bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    pollfd p{fd, events, 0};
    const int r = Retry([&] { return poll(&p, 1, MsLeft(deadline)); });
    return r > 0 && (p.revents & events) != 0;
}

bool WriteAll(int fd, std::string_view bytes, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = Retry([&] { return write(fd, bytes.data() + done, bytes.size() - done); });
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (!WaitFor(fd, POLLOUT, deadline))
            return false;
    }
    return true;
}

size_t ReadAvailable(int fd, char* buffer, size_t max, int timeoutMs)
{
    if (max == 0 || !WaitFor(fd, POLLIN, Clock::now() + std::chrono::milliseconds(timeoutMs)))
        return 0;
    const ssize_t n = Retry([&] { return read(fd, buffer, max); });
    return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace

PseudoTerminal::PseudoTerminal()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return;
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        close(master);
        return;
    }
    // The descriptor comes from the master itself, before any port holder can
    // make the slave exclusive.
    m_peer = ioctl(master, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    m_master = master;
    m_slavePath = name;
}

PseudoTerminal::~PseudoTerminal()
{
    CloseMaster();
}

bool PseudoTerminal::Write(std::string_view bytes, int timeoutMs)
{
    return m_master >= 0 && WriteAll(m_master, bytes, timeoutMs);
}

std::string PseudoTerminal::Read(size_t max, int timeoutMs)
{
    std::string out(max, '\0');
    out.resize(m_master >= 0 ? ReadAvailable(m_master, out.data(), max, timeoutMs) : 0);
    return out;
}

std::string PseudoTerminal::ReadExactly(size_t count, int timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    while (out.size() < count && m_master >= 0) {
        const int left = MsLeft(deadline);
        if (left == 0)
            break;
        const std::string part = Read(count - out.size(), left);
        if (part.empty())
            break;
        out += part;
    }
    return out;
}

bool PseudoTerminal::SlaveSettings(TtySettings& out) const
{
    termios t{};
    if (m_peer < 0 || tcgetattr(m_peer, &t) != 0)
        return false;
    out = TtySettings{};
    out.baud = SpeedOf(cfgetospeed(&t));
    if (out.baud == 0)
        GetTtySpeed(m_peer, out.baud);  // a speed without a constant of its own
    switch (t.c_cflag & CSIZE) {
    case CS5: out.dataBits = 5; break;
    case CS6: out.dataBits = 6; break;
    case CS7: out.dataBits = 7; break;
    default: out.dataBits = 8; break;
    }
    if ((t.c_cflag & PARENB) == 0)
        out.parity = 'N';
    else if ((t.c_cflag & CMSPAR) != 0)
        out.parity = (t.c_cflag & PARODD) != 0 ? 'M' : 'S';
    else
        out.parity = (t.c_cflag & PARODD) != 0 ? 'O' : 'E';
    out.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
    out.parityCheck = (t.c_iflag & INPCK) != 0;
    out.raw = (t.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN)) == 0 && (t.c_oflag & OPOST) == 0 &&
              (t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | BRKINT | PARMRK)) == 0;
    out.clocal = (t.c_cflag & CLOCAL) != 0;
    out.cread = (t.c_cflag & CREAD) != 0;
    out.hupcl = (t.c_cflag & HUPCL) != 0;
    out.rtsCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    out.xonXoff = (t.c_iflag & (IXON | IXOFF)) != 0;
    return true;
}

bool PseudoTerminal::ClearSlaveHupcl()
{
    termios t{};
    if (m_peer < 0 || tcgetattr(m_peer, &t) != 0)
        return false;
    t.c_cflag &= ~tcflag_t{HUPCL};
    return tcsetattr(m_peer, TCSANOW, &t) == 0;
}

void PseudoTerminal::CloseMaster()
{
    if (m_peer >= 0) {
        close(m_peer);
        m_peer = -1;
    }
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

RawTty::RawTty(const std::string& path, bool lock)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    termios t{};
    if ((lock && flock(fd, LOCK_EX | LOCK_NB) != 0) || tcgetattr(fd, &t) != 0) {
        close(fd);
        return;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        close(fd);
        return;
    }
    m_fd = fd;
}

RawTty::~RawTty()
{
    if (m_fd >= 0)
        close(m_fd);
}

size_t RawTty::ReadSome(char* buffer, size_t max, int timeoutMs)
{
    return m_fd >= 0 ? ReadAvailable(m_fd, buffer, max, timeoutMs) : 0;
}

bool RawTty::Write(std::string_view bytes, int timeoutMs)
{
    return m_fd >= 0 && WriteAll(m_fd, bytes, timeoutMs);
}
