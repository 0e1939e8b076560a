// Pieces for driving the built relay from outside, as its callers and hosts
// see it: pseudo-terminal hosts, raw TCP callers, a scratch folder with its own
// copy of the program, korvo.ini and com/ links, and the relay as a child
// process. Header-only and free of the test framework, so that the relay
// benchmark uses the same pieces as the end-to-end tests.
#pragma once

#include "support/telnet_offers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace e2e {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a test waits for one expected event (bytes, a connection, an exit)
// before it calls the event missing. Generous: CI shares its machine.
inline constexpr Clock::duration kDeadline = 10s;

// The two option offers every caller that gets a line receives first:
// IAC WILL TRANSMIT-BINARY, IAC WILL ECHO.

// --- small helpers -------------------------------------------------------------

// Bytes as text for failure messages: printable ASCII as is, the rest as <xx>;
// long runs are cut in the middle.
inline std::string Printable(std::string_view bytes, size_t max = 200)
{
    std::string out;
    auto put = [&out](unsigned char c) {
        if (c >= 0x20 && c < 0x7F && c != '<') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02x>", c);
            out += hex;
        }
    };
    if (bytes.size() <= max) {
        for (char c : bytes) put(static_cast<unsigned char>(c));
        return out;
    }
    for (char c : bytes.substr(0, max / 2)) put(static_cast<unsigned char>(c));
    out += "<... " + std::to_string(bytes.size() - max) + " bytes ...>";
    for (char c : bytes.substr(bytes.size() - max / 2)) put(static_cast<unsigned char>(c));
    return out;
}

// Every 0xFF doubled, as telnet carries a data byte 0xFF.
inline std::string DoubleIac(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 64);
    for (char c : bytes) {
        out += c;
        if (static_cast<unsigned char>(c) == 0xFF) out += c;
    }
    return out;
}

// A point in time after which a wait gives up.
class Deadline {
public:
    explicit Deadline(Clock::duration d) : end_(Clock::now() + d) {}
    bool Passed() const { return Clock::now() >= end_; }
    Clock::duration Remaining() const { return std::max<Clock::duration>(end_ - Clock::now(), 0s); }
    // The remaining time as a poll() time-out in milliseconds, rounded up.
    int PollMs() const
    {
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(Remaining()).count();
        return static_cast<int>(std::min<long long>((us + 999) / 1000, INT_MAX));
    }

private:
    Clock::time_point end_;
};

// Owns one file descriptor; move-only.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept
    {
        if (this != &o) Reset(std::exchange(o.fd_, -1));
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset(int fd = -1)
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

inline std::string ErrnoText(int err) { return std::strerror(err); }

// --- byte streams --------------------------------------------------------------

// One end of a byte stream (a pty master or a TCP socket) with a read buffer.
// Reads append to the buffer; the Read* calls take from its front. Nothing
// here blocks past its deadline.
class Stream {
public:
    Stream() = default;
    Stream(Stream&&) = default;
    Stream& operator=(Stream&&) = default;

    int fd() const { return fd_.get(); }
    const std::string& buffered() const { return buf_; }
    bool ended() const { return ended_; }
    int error() const { return error_; }

    // Moves whatever the descriptor holds into the buffer, waiting up to
    // `wait` for the first bytes. False once the stream has ended (the peer
    // closed it, or an error); bytes that came before the end stay buffered.
    bool Fill(Clock::duration wait)
    {
        if (ended_) return false;
        Deadline deadline(wait);
        for (;;) {
            pollfd p{fd_.get(), POLLIN, 0};
            int r = ::poll(&p, 1, deadline.PollMs());
            if (r < 0) {
                if (errno == EINTR) continue;
                return Fail(errno);
            }
            if (r == 0) return true;
            bool got = false;
            bool away = false;
            for (;;) {
                char chunk[65536];
                ssize_t n = ::read(fd_.get(), chunk, sizeof chunk);
                if (n > 0) {
                    buf_.append(chunk, static_cast<size_t>(n));
                    got = true;
                    continue;
                }
                if (n == 0) {
                    ended_ = true;
                    return false;
                }
                if (errno == EINTR) continue;
                if (errno == EAGAIN) break;
                if (is_pty_ && errno == EIO) {
                    // Nobody holds the far end of the line: no bytes can come
                    // until someone opens it. Look again shortly.
                    away = true;
                    break;
                }
                return Fail(errno);
            }
            if (got || deadline.Passed()) return true;
            if (away) std::this_thread::sleep_for(std::min<Clock::duration>(5ms, deadline.Remaining()));
        }
    }

    // Takes the first n buffered bytes (all of them when fewer are there).
    std::string Take(size_t n)
    {
        n = std::min(n, buf_.size());
        std::string out = buf_.substr(0, n);
        buf_.erase(0, n);
        return out;
    }
    std::string TakeAll() { return Take(buf_.size()); }

    // Waits until n bytes are buffered and takes them; nothing on time-out or
    // when the stream ends first.
    std::optional<std::string> ReadN(size_t n, Clock::duration wait = kDeadline)
    {
        Deadline deadline(wait);
        while (buf_.size() < n) {
            if (deadline.Passed()) return std::nullopt;
            if (!Fill(deadline.Remaining()) && buf_.size() < n) return std::nullopt;
        }
        return Take(n);
    }

    // Waits until `marker` is buffered; takes everything up to and including it.
    std::optional<std::string> ReadUntil(std::string_view marker, Clock::duration wait = kDeadline)
    {
        Deadline deadline(wait);
        size_t from = 0;
        for (;;) {
            size_t at = buf_.find(marker, from);
            if (at != std::string::npos) return Take(at + marker.size());
            from = buf_.size() >= marker.size() ? buf_.size() - marker.size() + 1 : 0;
            if (deadline.Passed()) return std::nullopt;
            if (!Fill(deadline.Remaining()) && buf_.find(marker, from) == std::string::npos) return std::nullopt;
        }
    }

    // Waits for the end of the stream; takes everything that came before it.
    std::optional<std::string> ReadToEnd(Clock::duration wait = kDeadline)
    {
        Deadline deadline(wait);
        while (!ended_) {
            if (deadline.Passed()) return std::nullopt;
            Fill(deadline.Remaining());
        }
        return TakeAll();
    }

    // Takes whatever is buffered or arrives within `wait`.
    std::string TakeAvailable(Clock::duration wait = 0s)
    {
        Fill(wait);
        return TakeAll();
    }

    // Writes every byte, waiting for room as long as the deadline allows.
    bool WriteAll(std::string_view bytes, Clock::duration wait = kDeadline)
    {
        Deadline deadline(wait);
        while (!bytes.empty()) {
            ssize_t n = WriteSome(bytes);
            if (n > 0) {
                bytes.remove_prefix(static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                error_ = errno;
                return false;
            }
            if (deadline.Passed()) return false;
            pollfd p{fd_.get(), POLLOUT, 0};
            ::poll(&p, 1, std::min(deadline.PollMs(), 50));
        }
        return true;
    }

    // One non-blocking write attempt: the count written, or -1 with errno.
    ssize_t WriteSome(std::string_view bytes)
    {
        if (is_pty_) return ::write(fd_.get(), bytes.data(), bytes.size());
        return ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    // A line for failure messages: what is buffered and how the stream stands.
    std::string Describe() const
    {
        std::string s = "buffered " + std::to_string(buf_.size()) + " bytes [" + Printable(buf_) + "]";
        if (ended_) s += error_ ? ", ended with error " + ErrnoText(error_) : ", ended";
        return s;
    }

protected:
    bool Fail(int err)
    {
        error_ = err;
        ended_ = true;
        return false;
    }

    Fd fd_;
    bool is_pty_ = false;
    std::string buf_;
    bool ended_ = false;
    int error_ = 0;
};

// The host's end of one serial line: the master side of a pseudo-terminal.
// The relay opens the slave side through a com/COMn link.
class PtyHost : public Stream {
public:
    static std::optional<PtyHost> Open(std::string* why = nullptr)
    {
        auto fail = [why](const char* what) -> std::optional<PtyHost> {
            if (why) *why = std::string(what) + ": " + ErrnoText(errno);
            return std::nullopt;
        };
        PtyHost h;
        h.is_pty_ = true;
        h.fd_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!h.fd_) return fail("posix_openpt");
        if (::grantpt(h.fd()) != 0 || ::unlockpt(h.fd()) != 0) return fail("grantpt/unlockpt");
        char name[128];
        if (::ptsname_r(h.fd(), name, sizeof name) != 0) return fail("ptsname_r");
        h.slave_ = name;
        // Raw both ways from the start, so that nothing the host writes before
        // the relay opens the line is echoed or edited.
        termios t{};
        if (::tcgetattr(h.fd(), &t) != 0) return fail("tcgetattr");
        ::cfmakeraw(&t);
        if (::tcsetattr(h.fd(), TCSANOW, &t) != 0) return fail("tcsetattr");
        // Opening and closing the slave once makes the master report a hang-up
        // until the next process opens it: that is how Held() sees the relay.
        int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (s < 0) return fail("open slave");
        ::close(s);
        return h;
    }

    const std::string& slave_path() const { return slave_; }

    // True while some process holds the slave side open.
    bool Held() const
    {
        if (keeper_) return true;
        pollfd p{fd(), POLLIN, 0};
        return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
    }

    // Waits until some process holds the slave side open.
    bool WaitHeld(Clock::duration wait = kDeadline) const
    {
        Deadline deadline(wait);
        while (!Held()) {
            if (deadline.Passed()) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    // Keeps the slave side open from this process too, so that the master
    // never reports a hang-up while relays come and go (the benchmark runs
    // several relays on one line). Held() is then always true.
    bool KeepFarEndOpen()
    {
        keeper_.Reset(::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        return static_cast<bool>(keeper_);
    }

private:
    std::string slave_;
    Fd keeper_;
};

// A raw TCP caller: no telnet handling of its own, so a test sees every byte.
class TcpCaller : public Stream {
public:
    // Connects to 127.0.0.1:port, retrying while nothing listens yet, until
    // the deadline. rcvbuf > 0 shrinks the receive buffer before connecting.
    // `alive`, when given, is asked between tries and stops them when false.
    static std::optional<TcpCaller> Connect(int port, Clock::duration wait = kDeadline, int rcvbuf = 0,
                                            std::string* why = nullptr,
                                            const std::function<bool()>& alive = {})
    {
        Deadline deadline(wait);
        for (;;) {
            TcpCaller c;
            c.fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (!c.fd_) {
                if (why) *why = "socket: " + ErrnoText(errno);
                return std::nullopt;
            }
            if (rcvbuf > 0) ::setsockopt(c.fd(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
            int one = 1;
            ::setsockopt(c.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(c.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                ::fcntl(c.fd(), F_SETFL, ::fcntl(c.fd(), F_GETFL) | O_NONBLOCK);
                return c;
            }
            int err = errno;
            if (why) *why = "connect to port " + std::to_string(port) + ": " + ErrnoText(err);
            if (err != ECONNREFUSED && err != EINTR) return std::nullopt;
            if ((alive && !alive()) || deadline.Passed()) return std::nullopt;
            std::this_thread::sleep_for(20ms);
        }
    }

    // Half-close: the relay sees the end of the caller's stream.
    void ShutdownWrite() { ::shutdown(fd(), SHUT_WR); }
    // Abortive close: the relay sees a reset.
    void Reset()
    {
        linger l{1, 0};
        ::setsockopt(fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        fd_.Reset();
        ended_ = true;
    }
    void Close()
    {
        fd_.Reset();
        ended_ = true;
    }
};

// Moves bytes both ways at once: writes out_a into a and out_b into b while
// reading both, until a has buffered want_a bytes and b want_b. False at the
// deadline or when a stream ends short; what arrived stays in the buffers.
inline bool Exchange(Stream& a, std::string_view out_a, size_t want_a, Stream& b, std::string_view out_b,
                     size_t want_b, Clock::duration wait)
{
    Deadline deadline(wait);
    Stream* streams[2] = {&a, &b};
    std::string_view* outs[2] = {&out_a, &out_b};
    const size_t wants[2] = {want_a, want_b};
    for (;;) {
        bool done = true;
        pollfd p[2];
        for (int i = 0; i < 2; ++i) {
            bool full = streams[i]->buffered().size() >= wants[i];
            if (!full && streams[i]->ended()) return false;
            done = done && full && outs[i]->empty();
            // An ended stream is left out of the poll: it would report forever.
            p[i] = {streams[i]->ended() ? -1 : streams[i]->fd(),
                    static_cast<short>(POLLIN | (outs[i]->empty() ? 0 : POLLOUT)), 0};
        }
        if (done) return true;
        if (deadline.Passed()) return false;
        if (::poll(p, 2, std::min(deadline.PollMs(), 20)) < 0 && errno != EINTR) return false;
        for (int i = 0; i < 2; ++i) {
            if (!outs[i]->empty() && (p[i].revents & (POLLOUT | POLLERR))) {
                ssize_t n = streams[i]->WriteSome(outs[i]->substr(0, 65536));
                if (n > 0) outs[i]->remove_prefix(static_cast<size_t>(n));
                else if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            }
            if (p[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                size_t before = streams[i]->buffered().size();
                streams[i]->Fill(0s);
                // A pty whose far end nobody holds reports a hang-up at once
                // and forever; wait a little rather than spin on it.
                if ((p[i].revents & POLLHUP) && streams[i]->buffered().size() == before)
                    std::this_thread::sleep_for(5ms);
            }
        }
    }
}

// --- scratch folder and the relay process --------------------------------------

// A TCP port that nobody uses right now: bound to port 0, read back, released.
inline int FreeTcpPort()
{
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof a;
    if (!s || ::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    return ntohs(a.sin_port);
}

// The folder of the running executable; built programs lie side by side there.
inline std::filesystem::path OwnFolder()
{
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

// CR, LF and TAB written as \r, \n and \t, as korvo.ini stores its texts.
inline std::string EscapeIniText(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

// One COM line of the relay's configuration (section COMn).
struct LineSetup {
    int speed = 38400;
    int data = 8;
    int stop = 1;
    int parity = 0;
    int ring = 0;
    int interval = 200;
    int connect = 1;
    int connectInterval = 0;
    int dsr = 0;  // a pty has no modem lines
    bool pty = true;  // false: the test links com/COMn itself
};

// The whole configuration a test gives the relay.
struct RelaySetup {
    std::vector<LineSetup> lines{LineSetup{}};
    int tcpPort = 0;  // 0: a free port is chosen
    int noComm = 0;
    int limit = 0;
    int keep = 0;
    std::optional<std::string> check1, check2, after, full;  // raw bytes, escaped when written
    bool log = true;
    std::optional<std::string> logDir;  // unset: the scratch folder
};

// korvo.ini for a setup; the relay's folder stands in for an unset log folder.
inline std::string KorvoIni(const RelaySetup& s, int port, const std::string& folder)
{
    std::ostringstream ini;
    for (size_t i = 0; i < s.lines.size(); ++i) {
        const LineSetup& l = s.lines[i];
        ini << "[COM" << i + 1 << "]\n"
            << "NAME=COM" << i + 1 << "\n"
            << "SPEED=" << l.speed << "\nDATA=" << l.data << "\nSTOP=" << l.stop << "\nPARITY=" << l.parity
            << "\nRING=" << l.ring << "\nINTERVAL=" << l.interval << "\nCONNECT_INTERVAL=" << l.connectInterval
            << "\nCONNECT=" << l.connect << "\nDSR=" << l.dsr << "\n";
    }
    ini << "[COM" << s.lines.size() + 1 << "]\nNAME=\n";
    ini << "[SERVER]\nPORT=" << port << "\n";
    ini << "[TIME]\nNO_COMM=" << s.noComm << "\nLIMIT=" << s.limit << "\nKEEP=" << s.keep << "\n";
    ini << "[TEXT]\n";
    if (s.check1) ini << "CHECK1=" << EscapeIniText(*s.check1) << "\n";
    if (s.check2) ini << "CHECK2=" << EscapeIniText(*s.check2) << "\n";
    if (s.after) ini << "AFTER=" << EscapeIniText(*s.after) << "\n";
    if (s.full) ini << "FULL=" << EscapeIniText(*s.full) << "\n";
    ini << "[LOG]\nENABLE=" << (s.log ? 1 : 0) << "\nDIR=" << s.logDir.value_or(folder) << "\n";
    return ini.str();
}

// A child process's wait status as words.
inline std::string StatusText(int status)
{
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("killed by signal ") + ::strsignal(WTERMSIG(status));
    return "wait status " + std::to_string(status);
}

// A started child process, its output kept in a file. Killed if still
// running when this object goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&& o) noexcept
        : pid_(std::exchange(o.pid_, -1)), pidfd_(std::move(o.pidfd_)), status_(o.status_)
    {
    }
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Kill(); }

    // Starts argv[0] in `dir` with `env` added to this process's environment,
    // stdout and stderr going to `output`. The child dies with this process.
    bool Start(const std::vector<std::string>& argv, const std::string& dir,
               const std::vector<std::string>& env, const std::string& output, std::string* why)
    {
        // Everything the child needs is prepared before fork: after it, the
        // child of a threaded process may only make plain system calls.
        std::vector<std::string> envStore;
        for (char** e = environ; *e; ++e) {
            std::string_view kv(*e);
            bool replaced = false;
            for (const std::string& add : env)
                if (kv.substr(0, kv.find('=') + 1) == std::string_view(add).substr(0, add.find('=') + 1))
                    replaced = true;
            if (!replaced) envStore.emplace_back(kv);
        }
        envStore.insert(envStore.end(), env.begin(), env.end());
        std::vector<char*> envp, args;
        for (std::string& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> argStore = argv;
        for (std::string& a : argStore) args.push_back(a.data());
        args.push_back(nullptr);
        int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0) {
            if (why) *why = "cannot create " + output + ": " + ErrnoText(errno);
            return false;
        }
        pid_t parent = ::getpid();
        pid_t pid = ::fork();
        if (pid < 0) {
            if (why) *why = "fork: " + ErrnoText(errno);
            ::close(out);
            return false;
        }
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(126);
            if (::chdir(dir.c_str()) != 0) ::_exit(126);
            ::dup2(out, 1);
            ::dup2(out, 2);
            // The test runner's signal mask and dispositions are not the child's.
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::signal(SIGINT, SIG_DFL);
            ::signal(SIGTERM, SIG_DFL);
            ::signal(SIGPIPE, SIG_DFL);
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        ::close(out);
        pid_ = pid;
        pidfd_.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        return true;
    }

    pid_t pid() const { return pid_; }

    // True while the child has not ended (its end is collected when seen).
    bool Running()
    {
        if (pid_ < 0) return false;
        int st = 0;
        pid_t r = ::waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = st;
            pid_ = -1;
            pidfd_.Reset();
            return false;
        }
        return true;
    }

    // The wait status of the ended child, if it has ended.
    std::optional<int> status() const { return status_; }

    // Waits for the child to end; its wait status, or nothing at the deadline.
    std::optional<int> Wait(Clock::duration wait)
    {
        Deadline deadline(wait);
        while (Running()) {
            if (deadline.Passed()) return std::nullopt;
            if (pidfd_) {
                pollfd p{pidfd_.get(), POLLIN, 0};
                ::poll(&p, 1, std::min(deadline.PollMs(), 1000));
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        return status_;
    }

    // Sends a signal and waits for the end.
    std::optional<int> Stop(int sig, Clock::duration wait)
    {
        if (Running()) ::kill(pid_, sig);
        return Wait(wait);
    }

    void Kill()
    {
        if (Running()) {
            ::kill(pid_, SIGKILL);
            Wait(kDeadline);
        }
    }

private:
    pid_t pid_ = -1;
    Fd pidfd_;
    std::optional<int> status_;
};

// The built relay running in a scratch folder of its own: a copy of the
// program, korvo.ini, com/COMn links to one pty per configured line, and the
// relay started there as a child on the offscreen platform.
class RelayRun {
public:
    RelayRun() = default;
    RelayRun(const RelayRun&) = delete;
    RelayRun& operator=(const RelayRun&) = delete;
    ~RelayRun()
    {
        process_.Kill();
        if (!folder_.empty() && !keep_) {
            std::error_code ec;
            std::filesystem::remove_all(folder_, ec);
        }
    }

    // Makes the folder, the lines and the configuration, and starts the relay.
    // An empty result means it started; otherwise it says what went wrong.
    std::string Start(const RelaySetup& setup, const std::filesystem::path& program = OwnFolder() / "skiffa")
    {
        std::string why = Prepare(setup, program);
        return why.empty() ? Launch() : why;
    }

    // The folder, the program, the lines and korvo.ini, without starting.
    std::string Prepare(const RelaySetup& setup, const std::filesystem::path& program = OwnFolder() / "skiffa")
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        if (!fs::exists(program, ec))
            return "the relay program " + program.string() + " is not built (build the target skiffa)";
        std::string base = (fs::temp_directory_path(ec) / "skiffa-run-XXXXXX").string();
        if (!::mkdtemp(base.data())) return "mkdtemp: " + ErrnoText(errno);
        folder_ = base;
        // The program finds korvo.ini and com/ beside itself, so it is linked
        // (or copied) into the folder rather than run from the build folder.
        exe_ = folder_ / "skiffa";
        fs::create_hard_link(program, exe_, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(program, exe_, fs::copy_options::overwrite_existing, ec);
            if (ec) return "cannot copy " + program.string() + ": " + ec.message();
        }
        fs::create_directory(folder_ / "com", ec);
        for (size_t i = 0; i < setup.lines.size(); ++i) {
            if (!setup.lines[i].pty) {
                hosts_.emplace_back();
                continue;
            }
            std::string why;
            std::optional<PtyHost> h = PtyHost::Open(&why);
            if (!h) return "pty for line " + std::to_string(i + 1) + ": " + why;
            fs::create_symlink(h->slave_path(), folder_ / "com" / ("COM" + std::to_string(i + 1)), ec);
            if (ec) return "link for COM" + std::to_string(i + 1) + ": " + ec.message();
            hosts_.push_back(std::move(h));
        }
        port_ = setup.tcpPort ? setup.tcpPort : FreeTcpPort();
        if (port_ <= 0) return "no free TCP port";
        std::ofstream(folder_ / "korvo.ini") << KorvoIni(setup, port_, folder_.string());
        return {};
    }

    // Starts the prepared relay in its folder on the offscreen platform.
    std::string Launch()
    {
        std::string why;
        if (!process_.Start({exe_.string()}, folder_.string(), {"QT_QPA_PLATFORM=offscreen"},
                            (folder_ / "skiffa.out").string(), &why))
            return why;
        return {};
    }

    const std::filesystem::path& folder() const { return folder_; }
    int port() const { return port_; }
    size_t lines() const { return hosts_.size(); }
    PtyHost& host(size_t i) { return hosts_.at(i).value(); }
    ChildProcess& process() { return process_; }
    // Keeps the folder after the run (for a look at a failure).
    void KeepFolder() { keep_ = true; }

    // Waits until the relay has opened every line; the failing line, if any,
    // is described in *why.
    bool WaitLinesOpen(std::string* why, Clock::duration wait = kDeadline)
    {
        Deadline deadline(wait);
        for (size_t i = 0; i < hosts_.size(); ++i) {
            while (hosts_[i] && !hosts_[i]->Held()) {
                if (!process_.Running() || deadline.Passed()) {
                    if (why)
                        *why = "the relay did not open COM" + std::to_string(i + 1) + " (" +
                               hosts_[i]->slave_path() + "); " + State();
                    return false;
                }
                std::this_thread::sleep_for(5ms);
            }
        }
        return true;
    }

    // A caller connected to the relay's port (retrying while it does not
    // listen yet); nothing, with the reason in *why, when none could connect.
    std::optional<TcpCaller> Call(std::string* why = nullptr, int rcvbuf = 0, Clock::duration wait = kDeadline)
    {
        std::string reason;
        auto alive = [this] { return process_.Running(); };
        std::optional<TcpCaller> c = TcpCaller::Connect(port_, wait, rcvbuf, &reason, alive);
        if (!c && why) *why = reason + "; " + State();
        return c;
    }

    // SIGTERM, then the wait for the end: the wait status, or nothing.
    std::optional<int> Stop(Clock::duration wait = kDeadline) { return process_.Stop(SIGTERM, wait); }

    // Whether the relay runs, or how it ended.
    std::string State()
    {
        if (process_.Running()) return "the relay is running";
        if (process_.status()) return "the relay has ended (" + StatusText(*process_.status()) + ")";
        return "the relay was not started";
    }

    // What the relay printed.
    std::string Output() const { return ReadFile(folder_ / "skiffa.out"); }

    // The daily log files of the folder, joined (two at a change of day).
    std::string Logs() const
    {
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(folder_, ec)) {
            std::string n = e.path().filename().string();
            if (n.rfind("Korvo_", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".log")
                files.push_back(e.path());
        }
        std::sort(files.begin(), files.end());
        std::string all;
        for (const auto& f : files) all += ReadFile(f);
        return all;
    }

    // Waits until the daily logs hold `count` lines that contain `needle`;
    // the whole log text either way.
    std::string WaitLogLines(std::string_view needle, size_t count, bool* ok, Clock::duration wait = kDeadline)
    {
        Deadline deadline(wait);
        for (;;) {
            std::string all = Logs();
            size_t n = 0;
            std::istringstream in(all);
            for (std::string line; std::getline(in, line);)
                if (line.find(needle) != std::string::npos) ++n;
            if (n >= count || deadline.Passed()) {
                *ok = n >= count;
                return all;
            }
            std::this_thread::sleep_for(10ms);
        }
    }

    static std::string ReadFile(const std::filesystem::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    std::filesystem::path folder_;
    std::filesystem::path exe_;
    std::vector<std::optional<PtyHost>> hosts_;
    int port_ = 0;
    ChildProcess process_;
    bool keep_ = false;
};

// Local time of day in seconds, for checking the times the log writes.
inline int SecondsOfDayNow()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

}  // namespace e2e
