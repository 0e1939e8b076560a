// Relay benchmark: the built skiffa against ser2net (telnet mode, as Debian
// ships it and tuned) and against a bare copy loop (the floor), all measured
// by the same client code on the same kind of set-up: single-byte echo round
// trips with one byte in flight at a time, throughput each way with every
// byte checked, and the relay's CPU time while its lines are quiet. Several
// runs of each relay, interleaved; the figures of every run, their medians and
// spread, and a closing table of ratios to tuned ser2net and to the floor.
//
// Arguments: --runs N, --trips N (round trips per run), --only a,b (relays
// by name: skiffa, ser2net, tuned, floor), --lines 1|32|both. The argument
// --floor PORT PTY... is how the benchmark starts its own copy loop.
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/utsname.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "e2e/harness.h"

namespace {

using namespace e2e;
using Us = std::chrono::duration<double, std::micro>;
using Sec = std::chrono::duration<double>;

// --- the floor: a bare copy loop between TCP callers and pty lines ------------

// One direction of one call. Bytes read from `from` wait here only when `to`
// does not take them at once; `from` is not read while they wait.
struct Pipe {
    int from = -1, to = -1;
    bool toSocket = false;
    std::vector<char> buf = std::vector<char>(65536);
    size_t off = 0, len = 0;

    void Flush()
    {
        while (len > 0) {
            ssize_t n = toSocket ? ::send(to, buf.data() + off, len, MSG_NOSIGNAL)
                                 : ::write(to, buf.data() + off, len);
            if (n <= 0)
                return;  // full (or failing): wait for room
            off += static_cast<size_t>(n), len -= static_cast<size_t>(n);
        }
    }
    // Reads once and passes it on; false when the source has ended.
    bool Pump()
    {
        if (len > 0)
            return true;
        ssize_t n = ::read(from, buf.data(), buf.size());
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO))
            return false;
        if (n > 0)
            off = 0, len = static_cast<size_t>(n), Flush();
        return true;
    }
};

// The floor relay: accepts callers on `port`, gives the k-th the k-th line and
// copies bytes both ways without looking at them: one epoll loop, one read
// and one write per burst, nothing else on the path. Ends on SIGTERM.
int RunFloor(int port, const std::vector<std::string>& lines)
{
    struct Call {
        int sock = -1, pty = -1;
        Pipe up, down;  // caller to host, host to caller
        uint32_t sockMask = 0, ptyMask = 0;
    };
    std::vector<Call> calls(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        int fd = ::open(lines[i].c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return 1;
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        calls[i].pty = fd;
    }
    int ls = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int one = 1;
    ::setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(ls, 64) != 0)
        return 1;
    int ep = ::epoll_create1(0);
    // Event data: 0 the listener, 2k+1 call k's socket, 2k+2 its pty.
    auto watch = [ep](int op, int fd, uint32_t mask, uint64_t tag) {
        epoll_event ev{};
        ev.events = mask;
        ev.data.u64 = tag;
        ::epoll_ctl(ep, op, fd, &ev);
    };
    watch(EPOLL_CTL_ADD, ls, EPOLLIN, 0);
    // Each end waits for input unless its bytes wait for the far end, and for
    // room while bytes wait for it.
    auto rearm = [&](size_t k) {
        Call& c = calls[k];
        const uint32_t in = EPOLLIN, out = EPOLLOUT;
        uint32_t s = (c.up.len ? 0 : in) | (c.down.len ? out : 0);
        uint32_t p = (c.down.len ? 0 : in) | (c.up.len ? out : 0);
        if (s != c.sockMask)
            watch(EPOLL_CTL_MOD, c.sock, s, 2 * k + 1), c.sockMask = s;
        if (p != c.ptyMask)
            watch(EPOLL_CTL_MOD, c.pty, p, 2 * k + 2), c.ptyMask = p;
    };
    size_t accepted = 0;
    epoll_event events[64];
    for (;;) {
        int n = ::epoll_wait(ep, events, 64, -1);
        if (n < 0 && errno != EINTR)
            return 1;
        for (int e = 0; e < n; ++e) {
            uint64_t tag = events[e].data.u64;
            if (tag == 0) {
                int s = ::accept4(ls, nullptr, nullptr, SOCK_NONBLOCK);
                if (s < 0 || accepted == calls.size()) {
                    if (s >= 0)
                        ::close(s);
                    continue;
                }
                ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                Call& c = calls[accepted];
                c.sock = s;
                c.up.from = s, c.up.to = c.pty;
                c.down.from = c.pty, c.down.to = s, c.down.toSocket = true;
                c.sockMask = c.ptyMask = EPOLLIN;
                watch(EPOLL_CTL_ADD, s, EPOLLIN, 2 * accepted + 1);
                watch(EPOLL_CTL_ADD, c.pty, EPOLLIN, 2 * accepted + 2);
                ++accepted;
                continue;
            }
            size_t k = (tag - 1) / 2;
            Call& c = calls[k];
            if (c.sock < 0)
                continue;
            bool sockEnd = tag % 2 == 1;
            uint32_t ev = events[e].events;
            Pipe& in = sockEnd ? c.up : c.down;   // read from this end
            Pipe& out = sockEnd ? c.down : c.up;  // written to this end
            if (ev & EPOLLOUT)
                out.Flush();
            if ((ev & (EPOLLIN | EPOLLHUP | EPOLLERR)) && !in.Pump()) {
                ::epoll_ctl(ep, EPOLL_CTL_DEL, c.sock, nullptr);
                ::epoll_ctl(ep, EPOLL_CTL_DEL, c.pty, nullptr);
                ::close(c.sock);
                c.sock = -1;
                continue;
            }
            rearm(k);
        }
    }
}

// --- the byte patterns the throughput phases send and check ------------------

// Line `line`'s stream: printable bytes, never 0xFF, CR or NUL, so that no
// telnet or line-end rule may touch them, repeating every kPeriod bytes; the
// line number shifts it, so that bytes of one line arriving on another are
// caught too. Byte `pos` is kCycle[(pos + 7 * line) % kPeriod].
constexpr size_t kPeriod = 89;
constexpr size_t kChunk = 16384;

// Two chunks' worth of the cycle, so that any run of up to kChunk bytes from
// any phase is one contiguous piece of it.
const char* Cycle()
{
    static const std::string cycle = [] {
        std::string c(kChunk + kPeriod, '\0');
        for (size_t i = 0; i < c.size(); ++i)
            c[i] = static_cast<char>('!' + i % kPeriod);
        return c;
    }();
    return cycle.data();
}

const char* PatternAt(size_t line, uint64_t pos)
{
    return Cycle() + (pos + line * 7) % kPeriod;
}

// Checks a stream's bytes against the pattern as they arrive.
class PatternCheck {
public:
    explicit PatternCheck(size_t line = 0) : line_(line) {}
    void Feed(const char* data, size_t n)
    {
        while (n > 0) {
            size_t piece = std::min(n, kChunk);
            if (bad_ == UINT64_MAX && std::memcmp(data, PatternAt(line_, pos_), piece) != 0)
                for (size_t i = 0; i < piece; ++i)
                    if (data[i] != *PatternAt(line_, pos_ + i)) {
                        bad_ = pos_ + i;
                        break;
                    }
            data += piece, n -= piece, pos_ += piece;
        }
    }
    uint64_t count() const { return pos_; }
    // The offset of the first byte that was not the expected one, if any.
    bool ok() const { return bad_ == UINT64_MAX; }
    uint64_t firstBad() const { return bad_; }

private:
    size_t line_;
    uint64_t pos_ = 0;
    uint64_t bad_ = UINT64_MAX;
};

// What the checks of all lines found: empty when every byte came in order.
std::string LossReport(const std::vector<PatternCheck>& checks, const char* direction)
{
    size_t bad = 0, first = 0;
    for (size_t i = checks.size(); i-- > 0;)
        if (!checks[i].ok())
            ++bad, first = i;
    if (bad == 0)
        return {};
    return std::string(direction) + ": bytes lost or out of order on " + std::to_string(bad) +
           " line(s), first on line " + std::to_string(first + 1) + " from byte " +
           std::to_string(checks[first].firstBad());
}

// Writes the next bytes of a line's pattern where they fit; `sent` counts on.
template <typename WriteFn> void SendPattern(size_t line, uint64_t& sent, WriteFn write)
{
    ssize_t n = write(PatternAt(line, sent), kChunk);
    if (n > 0)
        sent += static_cast<uint64_t>(n);
}

// --- the hosts during the throughput phases: one thread for all masters ------

// The calling thread's scheduling priority (nice value); ignored where it
// cannot be raised. The load-generating threads run ahead of the relays
// during the throughput phases, so that a busy machine stalls the relay
// under test rather than the callers and hosts that feed and drain it.
void SetThreadNice(int nice)
{
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice);
}

constexpr int kLoadNice = -5;

enum class HostMode { Idle, Sink, Source };

// Serves the masters of all lines on one thread: checks and counts what
// arrives (Sink), or sends each line's pattern as fast as it is taken
// (Source). Lives only for the throughput phases; the round trips use the
// masters directly.
class Hosts {
public:
    explicit Hosts(std::vector<PtyHost*> lines) : lines_(std::move(lines)), received_(lines_.size())
    {
        for (size_t i = 0; i < lines_.size(); ++i)
            checks_.emplace_back(i);
        sent_.assign(lines_.size(), 0);
        ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK);
        thread_ = std::thread([this] { Run(); });
    }
    ~Hosts()
    {
        Stop();
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    void SetMode(HostMode m)
    {
        mode_ = m;
        Wake();
    }
    uint64_t Received() const
    {
        uint64_t n = 0;
        for (const auto& r : received_)
            n += r.load();
        return n;
    }
    // Ends the thread; what it found lost or out of order, if anything.
    std::string Stop()
    {
        stop_ = true;
        Wake();
        if (thread_.joinable())
            thread_.join();
        return LossReport(checks_, "caller to host");
    }

private:
    void Wake()
    {
        char c = 0;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
    }

    void Run()
    {
        SetThreadNice(kLoadNice);
        std::vector<char> buf(65536);
        while (!stop_) {
            HostMode mode = mode_;
            std::vector<pollfd> p{{wake_[0], POLLIN, 0}};
            for (PtyHost* l : lines_)
                p.push_back(
                    {l->fd(), static_cast<short>(POLLIN | (mode == HostMode::Source ? POLLOUT : 0)), 0});
            if (::poll(p.data(), p.size(), 200) < 0 && errno != EINTR)
                return;
            if (p[0].revents & POLLIN)
                while (::read(wake_[0], buf.data(), buf.size()) > 0) {}
            for (size_t i = 0; i < lines_.size(); ++i) {
                int fd = lines_[i]->fd();
                if (p[i + 1].revents & POLLIN) {
                    ssize_t n = ::read(fd, buf.data(), buf.size());
                    if (n > 0) {
                        checks_[i].Feed(buf.data(), static_cast<size_t>(n));
                        received_[i] += static_cast<uint64_t>(n);
                    }
                }
                if (mode == HostMode::Source && (p[i + 1].revents & POLLOUT))
                    SendPattern(i, sent_[i], [fd](const char* d, size_t n) { return ::write(fd, d, n); });
            }
        }
    }

    std::vector<PtyHost*> lines_;
    std::vector<std::atomic<uint64_t>> received_;
    std::vector<PatternCheck> checks_;  // by the thread only, until Stop
    std::vector<uint64_t> sent_;
    std::atomic<HostMode> mode_{HostMode::Idle};
    std::atomic<bool> stop_{false};
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

// --- the callers ---------------------------------------------------------------

// Drops telnet commands from what a caller receives and undoubles IAC IAC, so
// that the relays' own negotiation does not count as data.
class TelnetStrip {
public:
    // The data bytes among `in`, appended to `out`.
    void Feed(const char* in, size_t n, std::string& out)
    {
        if (state_ == State::Data && std::memchr(in, 0xFF, n) == nullptr) {
            out.append(in, n);  // the common case: no command at all
            return;
        }
        for (size_t i = 0; i < n; ++i) {
            auto c = static_cast<unsigned char>(in[i]);
            switch (state_) {
            case State::Data:
                if (c == 0xFF)
                    state_ = State::Iac;
                else
                    out += in[i];
                break;
            case State::Iac:
                if (c == 0xFF)
                    out += in[i], state_ = State::Data;
                else if (c >= 0xFB)
                    state_ = State::Option;  // WILL WONT DO DONT
                else if (c == 0xFA)
                    state_ = State::Sub;
                else
                    state_ = State::Data;
                break;
            case State::Option: state_ = State::Data; break;
            case State::Sub: state_ = c == 0xFF ? State::SubIac : State::Sub; break;
            case State::SubIac: state_ = c == 0xF0 ? State::Data : State::Sub; break;
            }
        }
    }

private:
    enum class State { Data, Iac, Option, Sub, SubIac } state_ = State::Data;
};

struct Caller {
    TcpCaller conn;
    TelnetStrip strip;
};

// Waits for one end to become readable; false at the deadline.
bool WaitReadable(int fd, const Deadline& deadline)
{
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, deadline.PollMs());
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

// Reads what a caller has now into `data` (telnet stripped); false when the
// connection has ended.
bool ReadCaller(Caller& c, std::string& data)
{
    char buf[65536];
    ssize_t n = ::read(c.conn.fd(), buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        return false;
    if (n > 0)
        c.strip.Feed(buf, static_cast<size_t>(n), data);
    return true;
}

// Waits until exactly the data bytes `want` have come from the caller's
// side, reading them as they come; the reason when they do not.
std::string AwaitCaller(Caller& c, std::string_view want, Clock::duration wait)
{
    Deadline deadline(wait);
    std::string got;
    while (got.size() < want.size()) {
        if (!WaitReadable(c.conn.fd(), deadline))
            return "nothing came back to the caller";
        if (!ReadCaller(c, got))
            return "the caller's connection ended";
    }
    if (got != want)
        return "the caller got [" + Printable(got) + "], not [" + Printable(want) + "]";
    return {};
}

// The same on a host's master.
std::string AwaitHost(PtyHost& h, std::string_view want, Clock::duration wait)
{
    Deadline deadline(wait);
    std::string got;
    while (got.size() < want.size()) {
        if (!WaitReadable(h.fd(), deadline))
            return "nothing reached the host";
        char buf[4096];
        ssize_t n = ::read(h.fd(), buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            return "the host's line failed";
    }
    if (got != want)
        return "the host got [" + Printable(got) + "], not [" + Printable(want) + "]";
    return {};
}

// --- one relay under test ------------------------------------------------------

// The figures of one run of one relay.
struct Run {
    bool ran = false;
    std::string note;                   // why it did not run, or what went wrong
    std::vector<double> rtt, up, down;  // per round trip: whole, caller to host, host to caller (us)
    double rttCpuUs = 0;                // the relay's CPU time per round trip
    double upMBs = 0, downMBs = 0;
    double idleCpuUs = -1;  // from the threads' schedstat
};

// A relay started on a set of lines.
class Relay {
public:
    virtual ~Relay() = default;
    // Starts it on the given pty slaves; empty on success, else the reason.
    virtual std::string Start(const std::vector<std::string>& slaves) = 0;
    virtual int PortFor(size_t line) const = 0;
    virtual pid_t Pid() = 0;
    virtual void Stop() = 0;
};

class SkiffaRelay : public Relay {
public:
    SkiffaRelay(size_t lines, std::filesystem::path program) : lines_(lines), program_(std::move(program)) {}
    // Skiffa gets its own ptys (RelayRun makes them); hosts() hands them out.
    std::string Prepare()
    {
        RelaySetup setup;
        LineSetup line;
        line.m_nConnect = CONNECT_NONE;
        setup.lines.assign(lines_, line);
        setup.log = false;
        return run_.Prepare(setup, program_);
    }
    std::vector<PtyHost*> hosts()
    {
        std::vector<PtyHost*> h;
        for (size_t i = 0; i < lines_; ++i)
            h.push_back(&run_.host(i));
        return h;
    }
    std::string Start(const std::vector<std::string>&) override
    {
        std::string why = run_.Launch();
        if (why.empty())
            run_.WaitLinesOpen(&why);
        return why;
    }
    int PortFor(size_t) const override { return run_.port(); }
    pid_t Pid() override { return run_.process().pid(); }
    void Stop() override { run_.Stop(); }

private:
    size_t lines_;
    std::filesystem::path program_;
    RelayRun run_;
};

constexpr const char* kSer2net = "/usr/sbin/ser2net";
// Another build of skiffa (--before PATH), measured beside this one.
constexpr const char* kBefore = "skiffa before";

// ser2net in telnet mode, started by the benchmark only, in the foreground,
// on the benchmark's ptys and loopback ports. `tuned` turns off its wait for
// more characters after each byte from the line (chardelay) and widens its
// 64-byte buffers.
class Ser2netRelay : public Relay {
public:
    explicit Ser2netRelay(bool tuned) : tuned_(tuned) {}
    ~Ser2netRelay() override
    {
        process_.Kill();
        std::error_code ec;
        if (!folder_.empty())
            std::filesystem::remove_all(folder_, ec);
    }
    std::string Start(const std::vector<std::string>& slaves) override
    {
        if (!std::filesystem::exists(kSer2net))
            return std::string(kSer2net) + " is not installed";
        std::string base = (std::filesystem::temp_directory_path() / "ser2net-bench-XXXXXX").string();
        if (!::mkdtemp(base.data()))
            return "mkdtemp failed";
        folder_ = base;
        std::ostringstream yaml;
        yaml << "%YAML 1.1\n---\n";
        for (size_t i = 0; i < slaves.size(); ++i) {
            int port = FreeTcpPort();
            ports_.push_back(port);
            yaml << "connection: &line" << i + 1 << "\n"
                 << "  accepter: telnet(rfc2217=false),tcp,127.0.0.1," << port << "\n"
                 << "  enable: on\n"
                 << "  connector: serialdev," << slaves[i] << ",38400n81,local\n";
            if (tuned_)
                yaml << "  options:\n"
                     << "    chardelay: false\n"
                     << "    net-to-dev-bufsize: 65536\n"
                     << "    dev-to-net-bufsize: 65536\n";
        }
        std::ofstream(folder_ / "ser2net.yaml") << yaml.str();
        std::string why;
        if (!process_.Start({kSer2net, "-n", "-u", "-c", (folder_ / "ser2net.yaml").string(), "-P",
                             (folder_ / "ser2net.pid").string()},
                            folder_.string(), {}, (folder_ / "ser2net.out").string(), &why))
            return why;
        return {};
    }
    int PortFor(size_t line) const override { return ports_.at(line); }
    pid_t Pid() override { return process_.pid(); }
    void Stop() override { process_.Stop(SIGTERM, kDeadline); }

private:
    bool tuned_;
    std::filesystem::path folder_;
    std::vector<int> ports_;
    ChildProcess process_;
};

class FloorRelay : public Relay {
public:
    std::string Start(const std::vector<std::string>& slaves) override
    {
        port_ = FreeTcpPort();
        std::vector<std::string> argv{(OwnFolder() / "bench_relay_bench").string(), "--floor",
                                      std::to_string(port_)};
        argv.insert(argv.end(), slaves.begin(), slaves.end());
        std::string why;
        process_.Start(argv, "/", {}, "/dev/null", &why);
        return why;
    }
    int PortFor(size_t) const override { return port_; }
    pid_t Pid() override { return process_.pid(); }
    void Stop() override { process_.Stop(SIGTERM, kDeadline); }

private:
    int port_ = 0;
    ChildProcess process_;
};

// Time a process's threads have spent on a CPU so far, in microseconds (the
// scheduler's statistics, finer than the clock ticks of /proc/<pid>/stat).
double SchedCpuUs(pid_t pid)
{
    double ns = 0;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::istringstream in(RelayRun::ReadFile(task.path() / "schedstat"));
        double run = 0;
        if (in >> run)
            ns += run;
    }
    return ns / 1000.0;
}

double Percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t i = std::min(v.size() - 1, static_cast<size_t>(std::floor(q * static_cast<double>(v.size()))));
    return v[i];
}

// The middle value, or the mean of the two middle ones.
double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}

// Connects one caller per line, one after the other, and checks that a byte
// from caller k reaches host k and its echo comes back.
std::string ConnectCallers(Relay& relay, const std::vector<PtyHost*>& hosts, std::vector<Caller>& callers)
{
    for (size_t i = 0; i < hosts.size(); ++i) {
        std::string why;
        std::optional<TcpCaller> c = TcpCaller::Connect(relay.PortFor(i), kDeadline, 0, &why);
        if (!c)
            return "no connection: " + why;
        callers.push_back(Caller{std::move(*c), {}});
        std::string line = "line " + std::to_string(i + 1) + ": ";
        if (!callers.back().conn.WriteAll("a"))
            return line + "cannot write";
        why = AwaitHost(*hosts[i], "a", kDeadline);
        if (why.empty() && !hosts[i]->WriteAll("a"))
            why = "the host cannot write";
        if (why.empty())
            why = AwaitCaller(callers.back(), "a", kDeadline);
        if (!why.empty())
            return line + why + " within 10 s";
    }
    return {};
}

// The relays take turns at the round trips in blocks: so many round trips
// back to back, the first few of each block not counted (the relay's threads
// have slept while the others had their turn).
constexpr size_t kBlock = 100;
constexpr size_t kBlockWarmUp = 10;

// One relay under test in one run: its lines, its process, its callers and
// its figures.
struct Subject {
    std::string name;
    std::unique_ptr<Relay> relay;
    std::vector<std::optional<PtyHost>> own;  // the lines, unless skiffa made them
    std::vector<PtyHost*> ptys;
    std::vector<Caller> callers;
    Run run;
    size_t trips = 0;  // round trips done, the warm-up included
    char next = 'b';
    double cpuBefore = 0;
};

// One round trip on the subject's next line: the caller sends a byte, the
// host reads it and sends it back, the caller reads it. Client and host are
// this one thread, so each leg's time is the relay's plus a few system
// calls, the same for every relay.
std::string RoundTrip(Subject& s)
{
    size_t k = s.trips % s.callers.size();
    std::string b(1, s.next);
    s.next = s.next == 'z' ? 'b' : static_cast<char>(s.next + 1);
    auto t0 = Clock::now();
    if (::send(s.callers[k].conn.fd(), b.data(), 1, MSG_NOSIGNAL) != 1)
        return "cannot send";
    std::string why = AwaitHost(*s.ptys[k], b, 5s);
    auto t1 = Clock::now();
    if (why.empty() && ::write(s.ptys[k]->fd(), b.data(), 1) != 1)
        why = "the host cannot write";
    if (why.empty())
        why = AwaitCaller(s.callers[k], b, 5s);
    auto t2 = Clock::now();
    if (!why.empty())
        return "round trip " + std::to_string(s.trips) + " on line " + std::to_string(k + 1) + ": " + why;
    if (s.trips++ % (kBlockWarmUp + kBlock) < kBlockWarmUp)
        return {};
    s.run.rtt.push_back(Us(t2 - t0).count());
    s.run.up.push_back(Us(t1 - t0).count());
    s.run.down.push_back(Us(t2 - t1).count());
    return {};
}

// Round trips with one byte in flight at a time across all the relays: they
// take turns, a block of round trips each (their lines in turn), so that every
// relay is measured in the same stretches of a shared machine, whose speed
// moves a lot from one second to the next, and each still back to back.
void MeasureRtts(std::vector<Subject*>& subjects, size_t trips)
{
    for (Subject* s : subjects)
        s->cpuBefore = SchedCpuUs(s->relay->Pid());
    const size_t blocks = (trips + kBlock - 1) / kBlock;
    for (size_t b = 0; b < blocks; ++b)
        for (size_t j = 0; j < subjects.size(); ++j) {
            Subject& s = *subjects[(b + j) % subjects.size()];
            for (size_t t = 0; t < kBlockWarmUp + kBlock && s.run.note.empty(); ++t)
                s.run.note = RoundTrip(s);
        }
    for (Subject* s : subjects)
        s->run.rttCpuUs =
            (SchedCpuUs(s->relay->Pid()) - s->cpuBefore) / static_cast<double>(std::max<size_t>(s->trips, 1));
}

constexpr auto kWarmUp = 250ms;
constexpr auto kWindow = 1500ms;

// Reads everything the callers get until nothing has come for 300 ms (at most
// 10 s), checking it; and lets the hosts' sink take what is under way.
void DrainCallers(std::vector<Caller>& callers, std::vector<PatternCheck>* checks, Hosts& hosts)
{
    Deadline limit(10s);
    auto quietSince = Clock::now();
    uint64_t seen = hosts.Received();
    while (!limit.Passed() && Clock::now() - quietSince < 300ms) {
        std::vector<pollfd> p;
        for (auto& c : callers)
            p.push_back({c.conn.fd(), POLLIN, 0});
        ::poll(p.data(), p.size(), 50);
        bool any = false;
        for (size_t i = 0; i < callers.size(); ++i) {
            if (!(p[i].revents & POLLIN))
                continue;
            std::string d;
            if (ReadCaller(callers[i], d) && !d.empty()) {
                any = true;
                if (checks)
                    (*checks)[i].Feed(d.data(), d.size());
            }
        }
        uint64_t now = hosts.Received();
        if (any || now != seen)
            quietSince = Clock::now(), seen = now;
    }
}

// Every caller sends its pattern as fast as it goes; the hosts check and
// count what arrives. MB/s over the window after the warm-up.
std::string MeasureUp(Hosts& hosts, std::vector<Caller>& callers, Run& r)
{
    hosts.SetMode(HostMode::Sink);
    std::vector<uint64_t> sent(callers.size(), 0);
    auto start = Clock::now();
    uint64_t from = 0;
    bool counting = false;
    for (;;) {
        auto now = Clock::now();
        if (!counting && now - start >= kWarmUp)
            from = hosts.Received(), counting = true;
        if (now - start >= kWarmUp + kWindow)
            break;
        std::vector<pollfd> p;
        for (auto& c : callers)
            p.push_back({c.conn.fd(), POLLOUT, 0});
        ::poll(p.data(), p.size(), 20);
        for (size_t i = 0; i < callers.size(); ++i)
            if (p[i].revents & POLLOUT)
                SendPattern(i, sent[i], [fd = callers[i].conn.fd()](const char* d, size_t n) {
                    return ::send(fd, d, n, MSG_NOSIGNAL);
                });
    }
    r.upMBs = static_cast<double>(hosts.Received() - from) / 1e6 / Sec(kWindow).count();
    DrainCallers(callers, nullptr, hosts);
    uint64_t total = 0;
    for (uint64_t s : sent)
        total += s;
    if (hosts.Received() != total)
        return "caller to host: " + std::to_string(total) + " bytes sent, " +
               std::to_string(hosts.Received()) + " arrived";
    return {};
}

// Every host sends its pattern as fast as it is taken; the callers check and
// count what arrives.
std::string MeasureDown(Hosts& hosts, std::vector<Caller>& callers, Run& r)
{
    std::vector<PatternCheck> checks;
    for (size_t i = 0; i < callers.size(); ++i)
        checks.emplace_back(i);
    auto total = [&checks] {
        uint64_t n = 0;
        for (const auto& c : checks)
            n += c.count();
        return n;
    };
    hosts.SetMode(HostMode::Source);
    auto start = Clock::now();
    uint64_t from = 0;
    bool counting = false;
    for (;;) {
        auto now = Clock::now();
        if (!counting && now - start >= kWarmUp)
            from = total(), counting = true;
        if (now - start >= kWarmUp + kWindow)
            break;
        std::vector<pollfd> p;
        for (auto& c : callers)
            p.push_back({c.conn.fd(), POLLIN, 0});
        ::poll(p.data(), p.size(), 20);
        for (size_t i = 0; i < callers.size(); ++i) {
            if (!(p[i].revents & POLLIN))
                continue;
            std::string d;
            if (ReadCaller(callers[i], d))
                checks[i].Feed(d.data(), d.size());
        }
    }
    r.downMBs = static_cast<double>(total() - from) / 1e6 / Sec(kWindow).count();
    hosts.SetMode(HostMode::Idle);
    DrainCallers(callers, &checks, hosts);
    return LossReport(checks, "host to caller");
}

// Makes the subject's lines, starts its relay and connects its callers; the
// reason in its note when something fails.
void StartSubject(Subject& s, size_t lines, const std::string& before)
{
    Run& r = s.run;
    if (s.name == "skiffa" || s.name == kBefore) {
        auto relay = std::make_unique<SkiffaRelay>(lines, s.name == "skiffa" ? OwnFolder() / "skiffa"
                                                                             : std::filesystem::path(before));
        r.note = relay->Prepare();
        if (!r.note.empty())
            return;
        s.ptys = relay->hosts();
        s.relay = std::move(relay);
    } else {
        s.own.reserve(lines);  // ptys points into it
        for (size_t i = 0; i < lines; ++i) {
            s.own.push_back(PtyHost::Open(&r.note));
            if (!s.own.back())
                return;
            s.ptys.push_back(&*s.own.back());
        }
        if (s.name == "floor")
            s.relay = std::make_unique<FloorRelay>();
        else
            s.relay = std::make_unique<Ser2netRelay>(s.name == "ser2net tuned");
    }
    std::vector<std::string> slaves;
    for (PtyHost* p : s.ptys) {
        // The benchmark holds every line's far end open too, so that a master
        // never reports a hang-up (ser2net opens a line only when its caller
        // comes).
        p->KeepFarEndOpen();
        slaves.push_back(p->slave_path());
    }
    r.note = s.relay->Start(slaves);
    if (r.note.empty())
        r.note = ConnectCallers(*s.relay, s.ptys, s.callers);
}

// Throughput each way on one subject, every byte checked.
void MeasureThroughput(Subject& s)
{
    SetThreadNice(kLoadNice);  // back to 0 before the next relay is started
    {
        Hosts hosts(s.ptys);
        s.run.note = MeasureUp(hosts, s.callers, s.run);
        if (s.run.note.empty())
            s.run.note = MeasureDown(hosts, s.callers, s.run);
        std::string lost = hosts.Stop();
        if (s.run.note.empty())
            s.run.note = lost;
    }
    SetThreadNice(0);
}

// One run of every relay with `lines` lines: all started side by side, the
// round trips taken in turns, then each relay's throughput (in an order that
// moves on with the run), then the CPU time of all of them while quiet.
std::vector<Run> MeasureRun(const std::vector<std::string>& names, size_t lines, size_t trips, size_t round,
                            const std::string& before)
{
    std::vector<Subject> subjects(names.size());
    std::vector<Subject*> live;
    for (size_t i = 0; i < names.size(); ++i) {
        subjects[i].name = names[i];
        StartSubject(subjects[i], lines, before);
        if (subjects[i].run.note.empty())
            live.push_back(&subjects[i]);
    }
    MeasureRtts(live, trips);
    for (size_t j = 0; j < live.size(); ++j) {
        Subject& s = *live[(round + j) % live.size()];
        if (s.run.note.empty())
            MeasureThroughput(s);
    }
    if (lines > 1) {
        for (Subject* s : live)
            s->cpuBefore = SchedCpuUs(s->relay->Pid());
        std::this_thread::sleep_for(3s);
        for (Subject* s : live)
            s->run.idleCpuUs = SchedCpuUs(s->relay->Pid()) - s->cpuBefore;
    }
    std::vector<Run> runs;
    for (Subject& s : subjects) {
        s.run.ran = s.run.note.empty();
        s.callers.clear();
        if (s.relay)
            s.relay->Stop();
        runs.push_back(std::move(s.run));
    }
    return runs;
}

// --- reporting ---------------------------------------------------------------

const std::vector<std::string> kRelays{"skiffa", "ser2net", "ser2net tuned", "floor"};

struct Metric {
    const char* label;
    double (*of)(const Run&);
    int precision;
};

const std::vector<Metric>& Metrics(size_t lines)
{
    static const std::vector<Metric> common{
        {"round trip median (us)", [](const Run& r) { return Percentile(r.rtt, 0.5); }, 1},
        {"round trip p99 (us)", [](const Run& r) { return Percentile(r.rtt, 0.99); }, 1},
        {"  caller to host median (us)", [](const Run& r) { return Percentile(r.up, 0.5); }, 1},
        {"  host to caller median (us)", [](const Run& r) { return Percentile(r.down, 0.5); }, 1},
        {"  relay's CPU per round trip (us)", [](const Run& r) { return r.rttCpuUs; }, 1},
        {"caller to host (MB/s)", [](const Run& r) { return r.upMBs; }, 1},
        {"host to caller (MB/s)", [](const Run& r) { return r.downMBs; }, 1},
    };
    static std::vector<Metric> withIdle = [] {
        std::vector<Metric> m = common;
        m.push_back({"CPU while quiet 3 s (us)", [](const Run& r) { return r.idleCpuUs; }, 0});
        return m;
    }();
    return lines > 1 ? withIdle : common;
}

std::string Num(double v, int precision)
{
    char b[32];
    std::snprintf(b, sizeof b, "%.*f", precision, v);
    return b;
}

// The runs that completed.
std::vector<const Run*> Done(const std::vector<Run>& runs)
{
    std::vector<const Run*> d;
    for (const Run& r : runs)
        if (r.ran)
            d.push_back(&r);
    return d;
}

// "median [min-max]" of a metric over the completed runs.
std::string Spread(const std::vector<Run>& runs, const Metric& m)
{
    std::vector<double> v;
    for (const Run* r : Done(runs))
        v.push_back(m.of(*r));
    if (v.empty())
        return "-";
    auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return Num(Median(v), m.precision) + " [" + Num(*lo, m.precision) + "-" + Num(*hi, m.precision) + "]";
}

// The ratio a/b of two relays: of their medians over the runs, and the
// range of the ratios within each round (the two relays ran back to back).
std::string RatioText(const std::vector<Run>& a, const std::vector<Run>& b, const Metric& m)
{
    std::vector<double> va, vb, paired;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (!a[i].ran || !b[i].ran)
            continue;
        double x = m.of(a[i]), y = m.of(b[i]);
        va.push_back(x), vb.push_back(y);
        if (y > 0)
            paired.push_back(x / y);
    }
    double mb = Median(vb);
    if (va.empty() || mb <= 0)
        return "-";
    auto [lo, hi] = std::minmax_element(paired.begin(), paired.end());
    return Num(Median(va) / mb, 2) + "x [" + Num(*lo, 2) + "-" + Num(*hi, 2) + "]";
}

using Results = std::map<std::string, std::vector<Run>>;  // by relay, one entry per round

void PrintRuns(size_t lines, const std::vector<std::string>& relays, const Results& res)
{
    std::printf(
        "\n%zu line%s: every run (round trip median / p99 us, caller to host / host to caller MB/s)\n", lines,
        lines == 1 ? "" : "s");
    for (const std::string& name : relays) {
        std::printf("  %-14s", name.c_str());
        for (const Run& r : res.at(name)) {
            if (r.ran)
                std::printf("  %s/%s %s/%s", Num(Percentile(r.rtt, 0.5), 0).c_str(),
                            Num(Percentile(r.rtt, 0.99), 0).c_str(), Num(r.upMBs, 0).c_str(),
                            Num(r.downMBs, 0).c_str());
            else
                std::printf("  (failed)");
        }
        std::printf("\n");
        for (size_t i = 0; i < res.at(name).size(); ++i)
            if (!res.at(name)[i].ran)
                std::printf("    run %zu: %s\n", i + 1, res.at(name)[i].note.c_str());
    }
}

void PrintFigures(size_t lines, const std::vector<std::string>& relays, const Results& res)
{
    std::printf("\n%zu line%s: median of the runs [lowest-highest run]\n  %-30s", lines,
                lines == 1 ? "" : "s", "");
    for (const std::string& name : relays)
        std::printf(" %22s", name.c_str());
    std::printf("\n");
    for (const Metric& m : Metrics(lines)) {
        std::printf("  %-30s", m.label);
        for (const std::string& name : relays)
            std::printf(" %22s", Spread(res.at(name), m).c_str());
        std::printf("\n");
    }
}

// The closing table: every relay's figures as ratios to tuned ser2net and to
// the floor.
void PrintSummary(const std::map<size_t, Results>& all, const std::vector<std::string>& relays, size_t runs)
{
    const bool haveTuned = std::count(relays.begin(), relays.end(), "ser2net tuned") > 0;
    const bool haveFloor = std::count(relays.begin(), relays.end(), "floor") > 0;
    std::printf("\nSummary: ratios of the medians of %zu runs [lowest-highest ratio within one round];\n"
                "round trips: below 1 is faster; throughput: above 1 is faster\n  %-36s",
                runs, "");
    std::vector<std::pair<std::string, std::string>> cols;  // relay, reference
    if (std::count(relays.begin(), relays.end(), kBefore) > 0)
        cols.emplace_back("skiffa", kBefore);
    for (const std::string& name : relays) {
        if (haveTuned && name != "ser2net tuned" && name != "floor")
            cols.emplace_back(name, "ser2net tuned");
        if (haveFloor && name != "floor")
            cols.emplace_back(name, "floor");
    }
    auto shortName = [](const std::string& n) {
        return n == "ser2net tuned" ? std::string("tuned") : n == kBefore ? std::string("before") : n;
    };
    for (const auto& [a, b] : cols)
        std::printf(" %20s", (shortName(a) + " / " + shortName(b)).c_str());
    std::printf("\n");
    for (const auto& [lines, res] : all)
        for (const Metric& m : Metrics(lines)) {
            std::printf("  %-36s",
                        (std::to_string(lines) + (lines == 1 ? " line:  " : " lines: ") + m.label).c_str());
            for (const auto& [a, b] : cols)
                std::printf(" %20s", RatioText(res.at(a), res.at(b), m).c_str());
            std::printf("\n");
        }
}

struct Options {
    size_t runs = 5;
    size_t trips = 2000;
    std::vector<size_t> lines{1, 32};
    std::vector<std::string> relays = kRelays;
    std::string before;  // another skiffa program to measure beside this one
};

// Reads the arguments; false (after a message) on a bad one.
bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view a(argv[i]);
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v)
            break;
        if (a == "--runs")
            o.runs = static_cast<size_t>(std::max(1, std::atoi(v)));
        else if (a == "--trips")
            o.trips = static_cast<size_t>(std::max(1, std::atoi(v)));
        else if (a == "--lines")
            o.lines = std::string_view(v) == "1"    ? std::vector<size_t>{1}
                      : std::string_view(v) == "32" ? std::vector<size_t>{32}
                                                    : std::vector<size_t>{1, 32};
        else if (a == "--before")
            o.before = v;
        else if (a == "--only") {
            o.relays.clear();
            std::istringstream in(v);
            for (std::string n; std::getline(in, n, ',');)
                o.relays.push_back(n == "tuned" ? "ser2net tuned" : n);
        } else {
            break;
        }
        ++i;
        continue;
    }
    if (!o.before.empty())
        o.relays.insert(o.relays.begin() + 1, kBefore);
    for (const std::string& r : o.relays)
        if (r != kBefore && std::find(kRelays.begin(), kRelays.end(), r) == kRelays.end()) {
            std::fprintf(stderr, "unknown relay %s (skiffa, ser2net, tuned, floor)\n", r.c_str());
            return false;
        }
    return !o.relays.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string_view(argv[1]) == "--floor")
        return RunFloor(std::atoi(argv[2]), std::vector<std::string>(argv + 3, argv + argc));
    ::signal(SIGPIPE, SIG_IGN);
    Options opt;
    if (!ParseOptions(argc, argv, opt))
        return 2;

    utsname u{};
    ::uname(&u);
    std::printf("Relay benchmark: raw TCP callers on 127.0.0.1, hosts on pty masters; every relay\n"
                "measured by the same client: %zu single-byte round trips per run, one byte in\n"
                "flight at a time, then throughput each way for %.1f s with every byte checked.\n",
                opt.trips, Sec(kWindow).count());
    std::printf("%zu runs of each relay, interleaved. machine: %u CPUs, %s %s; ser2net: %s\n", opt.runs,
                std::thread::hardware_concurrency(), u.sysname, u.release,
                std::filesystem::exists(kSer2net) ? kSer2net : "missing");
    std::fflush(stdout);

    bool ok = true;
    std::map<size_t, Results> all;
    for (size_t lines : opt.lines) {
        Results& res = all[lines];
        for (size_t round = 0; round < opt.runs; ++round) {
            std::vector<Run> runs = MeasureRun(opt.relays, lines, opt.trips, round, opt.before);
            for (size_t i = 0; i < runs.size(); ++i) {
                const std::string& name = opt.relays[i];
                const Run& r = runs[i];
                std::printf("  %zu line%s, run %zu, %s: %s\n", lines, lines == 1 ? "" : "s", round + 1,
                            name.c_str(), r.ran ? "done" : r.note.c_str());
                // A missing ser2net is reported, not a failure of the benchmark.
                if (!r.ran && (name.rfind("ser2net", 0) != 0 || std::filesystem::exists(kSer2net)))
                    ok = false;
                res[name].push_back(std::move(runs[i]));
            }
            std::fflush(stdout);
        }
        PrintRuns(lines, opt.relays, res);
        PrintFigures(lines, opt.relays, res);
        std::fflush(stdout);
    }
    PrintSummary(all, opt.relays, opt.runs);
    if (!ok)
        std::printf("\nSome runs failed (see above): their figures are left out.\n");
    return ok ? 0 : 1;
}
