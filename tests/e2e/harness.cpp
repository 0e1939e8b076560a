// The bodies of the end-to-end harness: streams over ptys and TCP sockets, the
// child process, and the relay's scratch folder and run.
#include "e2e/harness.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace e2e {

// --- small helpers -------------------------------------------------------------

std::string Printable(std::string_view bytes, size_t max)
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
        for (char c : bytes)
            put(static_cast<unsigned char>(c));
        return out;
    }
    for (char c : bytes.substr(0, max / 2))
        put(static_cast<unsigned char>(c));
    out += "<... " + std::to_string(bytes.size() - max) + " bytes ...>";
    for (char c : bytes.substr(bytes.size() - max / 2))
        put(static_cast<unsigned char>(c));
    return out;
}

std::string DoubleIac(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 64);
    for (char c : bytes) {
        out += c;
        if (static_cast<unsigned char>(c) == 0xFF)
            out += c;
    }
    return out;
}

int Deadline::PollMs() const
{
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(Remaining()).count();
    return static_cast<int>(std::min<long long>((us + 999) / 1000, INT_MAX));
}

Fd& Fd::operator=(Fd&& o) noexcept
{
    if (this != &o)
        Reset(std::exchange(o.fd_, -1));
    return *this;
}

void Fd::Reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

std::string ErrnoText(int err)
{
    return std::strerror(err);
}

// --- byte streams --------------------------------------------------------------

bool Stream::Fill(Clock::duration wait)
{
    if (ended_)
        return false;
    Deadline deadline(wait);
    for (;;) {
        pollfd p{fd_.get(), POLLIN, 0};
        int r = ::poll(&p, 1, deadline.PollMs());
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return Fail(errno);
        }
        if (r == 0)
            return true;
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
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                break;
            if (is_pty_ && errno == EIO) {
                // Nobody holds the far end of the line: no bytes can come
                // until someone opens it. Look again shortly.
                away = true;
                break;
            }
            return Fail(errno);
        }
        if (got || deadline.Passed())
            return true;
        if (away)
            std::this_thread::sleep_for(std::min<Clock::duration>(5ms, deadline.Remaining()));
    }
}

std::string Stream::Take(size_t n)
{
    n = std::min(n, buf_.size());
    std::string out = buf_.substr(0, n);
    buf_.erase(0, n);
    return out;
}

std::optional<std::string> Stream::ReadN(size_t n, Clock::duration wait)
{
    Deadline deadline(wait);
    while (buf_.size() < n) {
        if (deadline.Passed())
            return std::nullopt;
        if (!Fill(deadline.Remaining()) && buf_.size() < n)
            return std::nullopt;
    }
    return Take(n);
}

std::optional<std::string> Stream::ReadUntil(std::string_view marker, Clock::duration wait)
{
    Deadline deadline(wait);
    size_t from = 0;
    for (;;) {
        size_t at = buf_.find(marker, from);
        if (at != std::string::npos)
            return Take(at + marker.size());
        from = buf_.size() >= marker.size() ? buf_.size() - marker.size() + 1 : 0;
        if (deadline.Passed())
            return std::nullopt;
        if (!Fill(deadline.Remaining()) && buf_.find(marker, from) == std::string::npos)
            return std::nullopt;
    }
}

std::optional<std::string> Stream::ReadToEnd(Clock::duration wait)
{
    Deadline deadline(wait);
    while (!ended_) {
        if (deadline.Passed())
            return std::nullopt;
        Fill(deadline.Remaining());
    }
    return TakeAll();
}

std::string Stream::TakeAvailable(Clock::duration wait)
{
    Fill(wait);
    return TakeAll();
}

bool Stream::WriteAll(std::string_view bytes, Clock::duration wait)
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
        if (deadline.Passed())
            return false;
        pollfd p{fd_.get(), POLLOUT, 0};
        ::poll(&p, 1, std::min(deadline.PollMs(), 50));
    }
    return true;
}

ssize_t Stream::WriteSome(std::string_view bytes)
{
    if (is_pty_)
        return ::write(fd_.get(), bytes.data(), bytes.size());
    return ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string Stream::Describe() const
{
    std::string s = "buffered " + std::to_string(buf_.size()) + " bytes [" + Printable(buf_) + "]";
    if (ended_)
        s += error_ ? ", ended with error " + ErrnoText(error_) : ", ended";
    return s;
}

bool Stream::Fail(int err)
{
    error_ = err;
    ended_ = true;
    return false;
}

std::optional<PtyHost> PtyHost::Open(std::string* why)
{
    auto fail = [why](const char* what) -> std::optional<PtyHost> {
        if (why)
            *why = std::string(what) + ": " + ErrnoText(errno);
        return std::nullopt;
    };
    PtyHost h;
    h.is_pty_ = true;
    h.fd_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!h.fd_)
        return fail("posix_openpt");
    if (::grantpt(h.fd()) != 0 || ::unlockpt(h.fd()) != 0)
        return fail("grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(h.fd(), name, sizeof name) != 0)
        return fail("ptsname_r");
    h.slave_ = name;
    // Raw both ways from the start, so that nothing the host writes before
    // the relay opens the line is echoed or edited.
    termios t{};
    if (::tcgetattr(h.fd(), &t) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&t);
    if (::tcsetattr(h.fd(), TCSANOW, &t) != 0)
        return fail("tcsetattr");
    // Opening and closing the slave once makes the master report a hang-up
    // until the next process opens it: that is how Held() sees the relay.
    int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0)
        return fail("open slave");
    ::close(s);
    return h;
}

bool PtyHost::Held() const
{
    if (keeper_)
        return true;
    pollfd p{fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

bool PtyHost::WaitHeld(Clock::duration wait) const
{
    Deadline deadline(wait);
    while (!Held()) {
        if (deadline.Passed())
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

bool PtyHost::KeepFarEndOpen()
{
    keeper_.Reset(::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    return static_cast<bool>(keeper_);
}

std::optional<TcpCaller> TcpCaller::Connect(int port, Clock::duration wait, int rcvbuf, std::string* why,
                                            const std::function<bool()>& alive)
{
    Deadline deadline(wait);
    for (;;) {
        TcpCaller c;
        c.fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!c.fd_) {
            if (why)
                *why = "socket: " + ErrnoText(errno);
            return std::nullopt;
        }
        if (rcvbuf > 0)
            ::setsockopt(c.fd(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
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
        if (why)
            *why = "connect to port " + std::to_string(port) + ": " + ErrnoText(err);
        if (err != ECONNREFUSED && err != EINTR)
            return std::nullopt;
        if ((alive && !alive()) || deadline.Passed())
            return std::nullopt;
        std::this_thread::sleep_for(20ms);
    }
}

void TcpCaller::ShutdownWrite()
{
    ::shutdown(fd(), SHUT_WR);
}

void TcpCaller::Reset()
{
    linger l{1, 0};
    ::setsockopt(fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    fd_.Reset();
    ended_ = true;
}

void TcpCaller::Close()
{
    fd_.Reset();
    ended_ = true;
}

bool Exchange(Stream& a, std::string_view out_a, size_t want_a, Stream& b, std::string_view out_b,
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
            if (!full && streams[i]->ended())
                return false;
            done = done && full && outs[i]->empty();
            // An ended stream is left out of the poll: it would report forever.
            p[i] = {streams[i]->ended() ? -1 : streams[i]->fd(),
                    static_cast<short>(POLLIN | (outs[i]->empty() ? 0 : POLLOUT)), 0};
        }
        if (done)
            return true;
        if (deadline.Passed())
            return false;
        if (::poll(p, 2, std::min(deadline.PollMs(), 20)) < 0 && errno != EINTR)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (!outs[i]->empty() && (p[i].revents & (POLLOUT | POLLERR))) {
                ssize_t n = streams[i]->WriteSome(outs[i]->substr(0, 65536));
                if (n > 0)
                    outs[i]->remove_prefix(static_cast<size_t>(n));
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    return false;
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

std::filesystem::path OwnFolder()
{
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

std::string EscapeIniText(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

std::string KorvoIni(const RelaySetup& s, int port, const std::string& folder)
{
    std::ostringstream ini;
    for (size_t i = 0; i < s.lines.size(); ++i) {
        const LineSetup& l = s.lines[i];
        ini << "[COM" << i + 1 << "]\n"
            << "NAME=COM" << i + 1 << "\n"
            << "SPEED=" << l.m_nSpeed << "\nDATA=" << l.m_nData << "\nSTOP=" << l.m_nStop
            << "\nPARITY=" << l.m_nParity << "\nRING=" << l.m_nRing << "\nINTERVAL=" << l.m_nRingInterval
            << "\nCONNECT_INTERVAL=" << l.m_nConnectInterval << "\nCONNECT=" << l.m_nConnect
            << "\nDSR=" << l.m_bDsr << "\n";
    }
    ini << "[COM" << s.lines.size() + 1 << "]\nNAME=\n";
    ini << "[SERVER]\nPORT=" << port << "\n";
    ini << "[TIME]\nNO_COMM=" << s.noComm << "\nLIMIT=" << s.limit << "\nKEEP=" << s.keep << "\n";
    ini << "[TEXT]\n";
    if (s.check1)
        ini << "CHECK1=" << EscapeIniText(*s.check1) << "\n";
    if (s.check2)
        ini << "CHECK2=" << EscapeIniText(*s.check2) << "\n";
    if (s.after)
        ini << "AFTER=" << EscapeIniText(*s.after) << "\n";
    if (s.full)
        ini << "FULL=" << EscapeIniText(*s.full) << "\n";
    ini << "[LOG]\nENABLE=" << (s.log ? 1 : 0) << "\nDIR=" << s.logDir.value_or(folder) << "\n";
    return ini.str();
}

std::string StatusText(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + ::strsignal(WTERMSIG(status));
    return "wait status " + std::to_string(status);
}

ChildProcess::ChildProcess(ChildProcess&& o) noexcept
    : pid_(std::exchange(o.pid_, -1)), pidfd_(std::move(o.pidfd_)), status_(o.status_)
{
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& dir,
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
        if (!replaced)
            envStore.emplace_back(kv);
    }
    envStore.insert(envStore.end(), env.begin(), env.end());
    std::vector<char*> envp, args;
    for (std::string& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = argv;
    for (std::string& a : argStore)
        args.push_back(a.data());
    args.push_back(nullptr);
    int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        if (why)
            *why = "cannot create " + output + ": " + ErrnoText(errno);
        return false;
    }
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        if (why)
            *why = "fork: " + ErrnoText(errno);
        ::close(out);
        return false;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(126);
        if (::chdir(dir.c_str()) != 0)
            ::_exit(126);
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

bool ChildProcess::Running()
{
    if (pid_ < 0)
        return false;
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

std::optional<int> ChildProcess::Wait(Clock::duration wait)
{
    Deadline deadline(wait);
    while (Running()) {
        if (deadline.Passed())
            return std::nullopt;
        if (pidfd_) {
            pollfd p{pidfd_.get(), POLLIN, 0};
            ::poll(&p, 1, std::min(deadline.PollMs(), 1000));
        } else {
            std::this_thread::sleep_for(10ms);
        }
    }
    return status_;
}

std::optional<int> ChildProcess::Stop(int sig, Clock::duration wait)
{
    if (Running())
        ::kill(pid_, sig);
    return Wait(wait);
}

void ChildProcess::Kill()
{
    if (Running()) {
        ::kill(pid_, SIGKILL);
        Wait(kDeadline);
    }
}

RelayRun::~RelayRun()
{
    process_.Kill();
    if (!folder_.empty() && !keep_) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
}

std::string RelayRun::Start(const RelaySetup& setup, const std::filesystem::path& program)
{
    std::string why = Prepare(setup, program);
    return why.empty() ? Launch() : why;
}

std::string RelayRun::Prepare(const RelaySetup& setup, const std::filesystem::path& program)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(program, ec))
        return "the relay program " + program.string() + " is not built (build the target skiffa)";
    std::string base = (fs::temp_directory_path(ec) / "skiffa-run-XXXXXX").string();
    if (!::mkdtemp(base.data()))
        return "mkdtemp: " + ErrnoText(errno);
    folder_ = base;
    // The program finds korvo.ini and com/ beside itself, so it is linked
    // (or copied) into the folder rather than run from the build folder.
    exe_ = folder_ / "skiffa";
    fs::create_hard_link(program, exe_, ec);
    if (ec) {
        ec.clear();
        fs::copy_file(program, exe_, fs::copy_options::overwrite_existing, ec);
        if (ec)
            return "cannot copy " + program.string() + ": " + ec.message();
    }
    fs::create_directory(folder_ / "com", ec);
    for (size_t i = 0; i < setup.lines.size(); ++i) {
        if (!setup.lines[i].pty) {
            hosts_.emplace_back();
            continue;
        }
        std::string why;
        std::optional<PtyHost> h = PtyHost::Open(&why);
        if (!h)
            return "pty for line " + std::to_string(i + 1) + ": " + why;
        fs::create_symlink(h->slave_path(), folder_ / "com" / ("COM" + std::to_string(i + 1)), ec);
        if (ec)
            return "link for COM" + std::to_string(i + 1) + ": " + ec.message();
        hosts_.push_back(std::move(h));
    }
    port_ = setup.tcpPort ? setup.tcpPort : FreeTcpPort();
    if (port_ <= 0)
        return "no free TCP port";
    std::ofstream(folder_ / "korvo.ini") << KorvoIni(setup, port_, folder_.string());
    return {};
}

std::string RelayRun::Launch(const std::vector<std::string>& env)
{
    std::string why;
    if (!process_.Start({exe_.string()}, folder_.string(), env,
                        (folder_ / "skiffa.out").string(), &why))
        return why;
    return {};
}

bool RelayRun::WaitLinesOpen(std::string* why, Clock::duration wait)
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

std::optional<TcpCaller> RelayRun::Call(std::string* why, int rcvbuf, Clock::duration wait)
{
    std::string reason;
    auto alive = [this] { return process_.Running(); };
    std::optional<TcpCaller> c = TcpCaller::Connect(port_, wait, rcvbuf, &reason, alive);
    if (!c && why)
        *why = reason + "; " + State();
    return c;
}

std::string RelayRun::State()
{
    if (process_.Running())
        return "the relay is running";
    if (process_.status())
        return "the relay has ended (" + StatusText(*process_.status()) + ")";
    return "the relay was not started";
}

std::string RelayRun::Logs() const
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
    for (const auto& f : files)
        all += ReadFile(f);
    return all;
}

std::string RelayRun::WaitLogLines(std::string_view needle, size_t count, bool* ok, Clock::duration wait)
{
    Deadline deadline(wait);
    for (;;) {
        std::string all = Logs();
        size_t n = 0;
        std::istringstream in(all);
        for (std::string line; std::getline(in, line);)
            if (line.find(needle) != std::string::npos)
                ++n;
        if (n >= count || deadline.Passed()) {
            *ok = n >= count;
            return all;
        }
        std::this_thread::sleep_for(10ms);
    }
}

std::string RelayRun::ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int SecondsOfDayNow()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

}  // namespace e2e
