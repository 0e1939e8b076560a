// A COM port on a tty: termios for the line, ioctls for the queues and the
// modem lines, poll for every wait, and two eventfds that wake a waiting
// thread (one for SetCommMask, one for CloseHandle).
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <linux/major.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/comm/comm_lock.h"
#include "platform/comm/comm_object.h"
#include "platform/comm/comm_speed.h"
#include "platform/base/eintr.h"
#include "platform/comm/tty_speed.h"

namespace {

// A modem-line ioctl that the device does not have (a pty) is "not
// supported", anything else a failed device.
DWORD ModemLineError(int err)
{
    return err == ENOTTY || err == EINVAL ? ERROR_NOT_SUPPORTED : ERROR_GEN_FAILURE;
}

constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;

// Whether the tty is the slave side of a pseudo-terminal. Its master keeps
// it in being after its last close, and with it the exclusive flag
// (TIOCEXCL): set there, the flag would outlive this process, a crash
// included, and shut every later open out, a restart of this program too.
bool IsPtySlave(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned number = major(st.st_rdev);
    return number == PTY_SLAVE_MAJOR ||
           (number >= UNIX98_PTY_SLAVE_MAJOR && number < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT);
}

class TtyPort final : public CommPort {
public:
    TtyPort(int fd, int wakeFd, int closeFd, const termios& original, bool exclusive,
            std::unique_ptr<DeviceLock> lock)
        : m_lock(std::move(lock)), m_fd(fd), m_wakeFd(wakeFd), m_closeFd(closeFd), m_original(original),
          m_exclusive(exclusive)
    {
    }

    ~TtyPort() override
    {
        // A handle that never asked for a line state (a presence test)
        // leaves the device as it found it, raw mode undone.
        bool lineStateAsked = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            lineStateAsked = m_lineStateAsked;
        }
        if (!lineStateAsked)
            Retry([&] { return tcsetattr(m_fd, TCSANOW, &m_original); });
        if (m_exclusive)
            Retry([&] { return ioctl(m_fd, TIOCNXCL); });
        close(m_fd);  // also releases the flock; the lock file goes after it
        close(m_wakeFd);
        close(m_closeFd);
    }

    DWORD GetState(DCB& dcb) override
    {
        termios t{};
        if (tcgetattr(m_fd, &t) != 0)
            return ERROR_GEN_FAILURE;
        dcb.BaudRate = SpeedOf(cfgetospeed(&t));
        unsigned exact = 0;
        if (dcb.BaudRate == 0 && GetTtySpeed(m_fd, exact))
            dcb.BaudRate = exact;  // a speed without a constant of its own
        switch (t.c_cflag & CSIZE) {
        case CS5: dcb.ByteSize = 5; break;
        case CS6: dcb.ByteSize = 6; break;
        case CS7: dcb.ByteSize = 7; break;
        default: dcb.ByteSize = 8; break;
        }
        if ((t.c_cflag & PARENB) == 0)
            dcb.Parity = NOPARITY;
        else if ((t.c_cflag & CMSPAR) != 0)
            dcb.Parity = (t.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
        else
            dcb.Parity = (t.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
        dcb.StopBits = (t.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
        dcb.fParity = (t.c_iflag & INPCK) != 0 ? 1 : 0;
        dcb.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0 ? 1u : 0u;
        dcb.fOutX = (t.c_iflag & IXON) != 0 ? 1 : 0;
        dcb.fInX = (t.c_iflag & IXOFF) != 0 ? 1 : 0;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = (t.c_cflag & CRTSCTS) != 0 ? DWORD{RTS_CONTROL_HANDSHAKE} : m_rtsControl.load();
        return ERROR_SUCCESS;
    }

    DWORD SetState(const DCB& dcb) override
    {
        termios t{};
        if (tcgetattr(m_fd, &t) != 0)
            return ERROR_GEN_FAILURE;
        // A speed termios has a constant for goes with the rest; any other
        // is set exactly afterwards, and until then the old speed stays.
        speed_t speed{};
        const bool standard = SpeedConstant(dcb.BaudRate, speed);
        if (standard) {
            cfsetispeed(&t, speed);
            cfsetospeed(&t, speed);
        }
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag = (t.c_cflag & ~tcflag_t{CSIZE}) | kSizes[dcb.ByteSize - 5];
        t.c_cflag &= ~tcflag_t{PARENB | PARODD | CMSPAR};
        switch (dcb.Parity) {
        case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
        case EVENPARITY: t.c_cflag |= PARENB; break;
        case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
        if (dcb.StopBits == TWOSTOPBITS)
            t.c_cflag |= CSTOPB;
        else
            t.c_cflag &= ~tcflag_t{CSTOPB};
        if (dcb.fParity != 0)
            t.c_iflag |= INPCK;
        else
            t.c_iflag &= ~tcflag_t{INPCK};
        if (dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
            t.c_cflag |= CRTSCTS;
        else
            t.c_cflag &= ~tcflag_t{CRTSCTS};
        t.c_iflag = dcb.fOutX != 0 ? (t.c_iflag | IXON) : (t.c_iflag & ~tcflag_t{IXON});
        t.c_iflag = dcb.fInX != 0 ? (t.c_iflag | IXOFF) : (t.c_iflag & ~tcflag_t{IXOFF});
        if (Retry([&] { return tcsetattr(m_fd, TCSANOW, &t); }) != 0 && !Holds(t))
            return ERROR_GEN_FAILURE;

        // RTS held on or off; a device without modem lines simply has none.
        m_rtsControl = dcb.fRtsControl;
        if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE) {
            int bits = TIOCM_RTS;
            Retry([&] {
                return ioctl(m_fd, dcb.fRtsControl == RTS_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC, &bits);
            });
        }
        if (!standard && !SetTtySpeedExactly(m_fd, dcb.BaudRate))
            return ERROR_INVALID_PARAMETER;  // the rest of the line is set all the same
        return ERROR_SUCCESS;
    }

    DWORD Purge(bool input, bool output) override
    {
        if (!input && !output)
            return ERROR_SUCCESS;
        const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        return Retry([&] { return tcflush(m_fd, which); }) == 0 ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
    }

    DWORD Queues(DWORD& in, DWORD& out) override
    {
        // A hung-up tty (an adapter pulled, a pty whose far end closed)
        // reports itself in poll; the queue ioctls alone may not fail.
        pollfd p{m_fd, 0, 0};
        if (Retry([&] { return poll(&p, 1, 0); }) < 0 || (p.revents & kGone) != 0)
            return ERROR_GEN_FAILURE;
        int inBytes = 0;
        int outBytes = 0;
        if (ioctl(m_fd, FIONREAD, &inBytes) != 0 || ioctl(m_fd, TIOCOUTQ, &outBytes) != 0)
            return ERROR_GEN_FAILURE;
        in = static_cast<DWORD>(std::max(inBytes, 0));
        out = static_cast<DWORD>(std::max(outBytes, 0));
        return ERROR_SUCCESS;
    }

    DWORD OutputQueue(DWORD& out) override
    {
        int outBytes = 0;
        if (ioctl(m_fd, TIOCOUTQ, &outBytes) != 0)
            return ERROR_GEN_FAILURE;
        out = static_cast<DWORD>(std::max(outBytes, 0));
        return ERROR_SUCCESS;
    }

    DWORD WaitEvent(bool watchInput, bool& input) override
    {
        input = false;
        for (;;) {
            pollfd p[3] = {{m_closeFd, POLLIN, 0},
                           {m_fd, static_cast<short>(watchInput ? POLLIN : 0), 0},
                           {m_wakeFd, POLLIN, 0}};
            if (Retry([&] { return poll(p, 3, -1); }) < 0)
                return ERROR_GEN_FAILURE;
            if (p[0].revents != 0 || m_closing)
                return ERROR_OPERATION_ABORTED;
            // A device that has gone ends the wait even with bytes still
            // readable: waiting again would only find it gone again.
            if ((p[1].revents & kGone) != 0)
                return ERROR_GEN_FAILURE;
            if ((p[2].revents & POLLIN) != 0) {
                std::uint64_t count = 0;
                if (read(m_wakeFd, &count, sizeof count) == sizeof count)
                    return ERROR_SUCCESS;
                continue;  // another waiter took the wake-up
            }
            if ((p[1].revents & POLLIN) != 0) {
                input = true;
                return ERROR_SUCCESS;
            }
        }
    }

    void Wake() override { Signal(m_wakeFd); }

    void Shutdown() override
    {
        m_closing = true;
        Signal(m_closeFd);  // never read: every later wait sees it too
    }

    DWORD Read(BYTE* buffer, DWORD count, DWORD& got) override
    {
        got = 0;
        const ssize_t n = Retry([&] { return read(m_fd, buffer, count); });
        if (n > 0) {
            got = static_cast<DWORD>(n);
            return ERROR_SUCCESS;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return ERROR_SUCCESS;
        return ERROR_GEN_FAILURE;  // EIO, or end of file on a hung-up tty
    }

    DWORD WriteSome(const BYTE* data, DWORD count, DWORD& accepted) override
    {
        accepted = 0;
        const ssize_t n = Retry([&] { return write(m_fd, data, count); });
        if (n >= 0) {
            accepted = static_cast<DWORD>(n);
            return ERROR_SUCCESS;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return ERROR_SUCCESS;
        return ERROR_GEN_FAILURE;
    }

    DWORD WaitWritable(long timeoutMs) override
    {
        return PollFor(POLLOUT, timeoutMs < 0 ? -1 : static_cast<int>(std::min<long>(timeoutMs, INT32_MAX)));
    }

    DWORD WaitOutputRoom(DWORD timeoutMs) override
    {
        // The kernel gives no event for "some bytes have gone out", so the
        // wait is a short sleep that the close and a hang-up cut short.
        return PollFor(0, static_cast<int>(std::min<DWORD>(timeoutMs, kOutputLookMs)));
    }

    DWORD SetDtr(bool on) override
    {
        int bits = TIOCM_DTR;
        if (Retry([&] { return ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits); }) != 0)
            return ModemLineError(errno);
        return ERROR_SUCCESS;
    }

    DWORD ModemStatus(DWORD& status) override
    {
        int bits = 0;
        if (Retry([&] { return ioctl(m_fd, TIOCMGET, &bits); }) != 0)
            return ModemLineError(errno);
        status = ((bits & TIOCM_CTS) != 0 ? MS_CTS_ON : 0) | ((bits & TIOCM_DSR) != 0 ? MS_DSR_ON : 0) |
                 ((bits & TIOCM_RI) != 0 ? MS_RING_ON : 0) | ((bits & TIOCM_CD) != 0 ? MS_RLSD_ON : 0);
        return ERROR_SUCCESS;
    }

private:
    // How long one look at a draining output queue sleeps at most.
    static constexpr DWORD kOutputLookMs = 5;

    static void Signal(int fd)
    {
        const std::uint64_t one = 1;
        Retry([&] { return write(fd, &one, sizeof one); });
    }

    // Whether the tty holds the settings asked for, but for data bits and
    // parity: a pty keeps 8 bits without parity whatever it is given, and the
    // C library then reports the whole change as failed.
    bool Holds(const termios& asked) const
    {
        termios now{};
        if (tcgetattr(m_fd, &now) != 0)
            return false;
        constexpr tcflag_t kKeptByDevice = CSIZE | PARENB | PARODD | CMSPAR;
        return (now.c_cflag & ~kKeptByDevice) == (asked.c_cflag & ~kKeptByDevice) &&
               now.c_iflag == asked.c_iflag && now.c_oflag == asked.c_oflag && now.c_lflag == asked.c_lflag;
    }

    // Waits for `events` on the tty (none: only a hang-up counts), the
    // close, or the time-out.
    DWORD PollFor(short events, int timeoutMs)
    {
        pollfd p[2] = {{m_closeFd, POLLIN, 0}, {m_fd, events, 0}};
        if (Retry([&] { return poll(p, 2, timeoutMs); }) < 0)
            return ERROR_GEN_FAILURE;
        if (p[0].revents != 0 || m_closing)
            return ERROR_OPERATION_ABORTED;
        if ((p[1].revents & kGone) != 0)
            return ERROR_GEN_FAILURE;
        return ERROR_SUCCESS;
    }

    const std::unique_ptr<DeviceLock> m_lock;  // null where no lock file could be made
    const int m_fd;
    const int m_wakeFd;
    const int m_closeFd;
    const termios m_original;  // the settings the device had before the open
    const bool m_exclusive;    // TIOCEXCL was set by this open
    std::atomic<bool> m_closing{false};
    std::atomic<DWORD> m_rtsControl{RTS_CONTROL_ENABLE};
};

DWORD OpenError(int err)
{
    switch (err) {
    case EBUSY:
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    default: return ERROR_FILE_NOT_FOUND;  // ENOENT, ENXIO, ENODEV, EIO: no port there
    }
}

std::string ErrnoText(int err)
{
    return std::strerror(err);
}

}  // namespace

bool IsTermiosSpeed(DWORD baud)
{
    speed_t constant{};
    return SpeedConstant(baud, constant);
}

std::unique_ptr<CommPort> OpenTtyPort(const std::string& devicePath, DWORD& error, std::string& reason)
{
    // The lock file comes first, so that a line another program has locked
    // is not touched at all.
    std::unique_ptr<DeviceLock> lock;
    if (access(devicePath.c_str(), F_OK) == 0) {
        error = DeviceLock::Acquire(devicePath, lock, reason);
        if (error != ERROR_SUCCESS)
            return nullptr;
    }
    const int fd =
        Retry([&] { return open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        error = OpenError(errno);
        reason = ErrnoText(errno);
        return nullptr;
    }
    bool exclusive = false;
    auto fail = [&](DWORD code, const std::string& why) -> std::unique_ptr<CommPort> {
        if (exclusive)
            Retry([&] { return ioctl(fd, TIOCNXCL); });
        close(fd);
        error = code;
        reason = why;
        return nullptr;
    };
    if (!isatty(fd))
        return fail(ERROR_FILE_NOT_FOUND, "not a terminal device");
    // flock keeps every other opener out, root included; TIOCEXCL adds the
    // kernel's own refusal for programs that do not take the lock, where it
    // ends with this process (not on a pty: see IsPtySlave).
    if (Retry([&] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0)
        return errno == EWOULDBLOCK
                   ? fail(ERROR_ACCESS_DENIED, ErrnoText(EBUSY) + " (held open by another program)")
                   : fail(ERROR_GEN_FAILURE, ErrnoText(errno));
    exclusive = !IsPtySlave(fd) && Retry([&] { return ioctl(fd, TIOCEXCL); }) == 0;

    termios original{};
    if (tcgetattr(fd, &original) != 0)
        return fail(ERROR_GEN_FAILURE, ErrnoText(errno));
    termios t = original;
    cfmakeraw(&t);
    // HUPCL: the device drops DTR at its last close, so the host hears the
    // line hang up however the process ends, killed or crashed included.
    t.c_cflag |= CLOCAL | CREAD | HUPCL;
    // With O_NONBLOCK a read of an empty queue then gives EAGAIN, and a
    // read of 0 bytes means the tty has hung up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (Retry([&] { return tcsetattr(fd, TCSANOW, &t); }) != 0)
        return fail(ERROR_GEN_FAILURE, ErrnoText(errno));

    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int closeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0 || closeFd < 0) {
        const std::string why = ErrnoText(errno);
        if (wakeFd >= 0)
            close(wakeFd);
        if (closeFd >= 0)
            close(closeFd);
        return fail(ERROR_GEN_FAILURE, why);
    }
    error = ERROR_SUCCESS;
    return std::make_unique<TtyPort>(fd, wakeFd, closeFd, original, exclusive, std::move(lock));
}
