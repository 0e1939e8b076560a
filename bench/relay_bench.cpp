// Relay benchmark: the built skiffa against ser2net (telnet mode) and against
// a bare TCP-to-pty copy loop (the floor), on the same pty set-up: echo
// round-trip time of single bytes, throughput each way, and the relay's CPU
// time while its lines are connected and quiet. Run without arguments; the
// argument --floor is how the benchmark starts its own copy loop.
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/utsname.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "e2e/harness.h"

namespace {

using namespace e2e;
using Us = std::chrono::duration<double, std::micro>;
using Sec = std::chrono::duration<double>;

// --- the floor: a bare copy loop between TCP callers and pty lines ------------

// One direction of one call: bytes read from `from` wait in `buf` until `to`
// takes them; the source is not read while they wait.
struct Pipe {
    int from = -1, to = -1;
    bool toSocket = false;
    std::vector<char> buf = std::vector<char>(65536);
    size_t off = 0, len = 0;

    // Moves what it can; false when the source has ended.
    bool Pump(bool readable, bool writable)
    {
        if (len == 0 && readable) {
            ssize_t n = ::read(from, buf.data(), buf.size());
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)) return false;
            if (n > 0) off = 0, len = static_cast<size_t>(n);
        }
        if (len > 0 && writable) {
            ssize_t n = toSocket ? ::send(to, buf.data() + off, len, MSG_NOSIGNAL) : ::write(to, buf.data() + off, len);
            if (n > 0) off += static_cast<size_t>(n), len -= static_cast<size_t>(n);
        }
        return true;
    }
};

// The floor relay: accepts callers on `port` and gives the k-th the k-th line,
// then copies bytes both ways with no processing at all. Ends on SIGTERM.
int RunFloor(int port, const std::vector<std::string>& lines)
{
    std::vector<int> ptys;
    for (const std::string& path : lines) {
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return 1;
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        ptys.push_back(fd);
    }
    int ls = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(ls, 64) != 0) return 1;

    struct Call {
        int sock, pty;
        Pipe up, down;  // caller to host, host to caller
    };
    std::vector<Call> calls;
    calls.reserve(ptys.size());
    for (;;) {
        std::vector<pollfd> p;
        p.push_back({ls, static_cast<short>(calls.size() < ptys.size() ? POLLIN : 0), 0});
        for (const Call& c : calls) {
            p.push_back({c.sock, static_cast<short>((c.up.len ? 0 : POLLIN) | (c.down.len ? POLLOUT : 0)), 0});
            p.push_back({c.pty, static_cast<short>((c.down.len ? 0 : POLLIN) | (c.up.len ? POLLOUT : 0)), 0});
        }
        if (::poll(p.data(), p.size(), -1) < 0 && errno != EINTR) return 1;
        if (p[0].revents & POLLIN) {
            int s = ::accept4(ls, nullptr, nullptr, SOCK_NONBLOCK);
            if (s >= 0) {
                ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                Call c{s, ptys[calls.size()], {}, {}};
                c.up.from = s, c.up.to = c.pty;
                c.down.from = c.pty, c.down.to = s, c.down.toSocket = true;
                calls.push_back(std::move(c));
                continue;
            }
        }
        for (size_t i = 0; i < calls.size(); ++i) {
            short se = p[1 + 2 * i].revents, pe = p[2 + 2 * i].revents;
            if (calls[i].sock < 0) continue;
            bool ok = calls[i].up.Pump(se & (POLLIN | POLLHUP), pe & POLLOUT) &&
                      calls[i].down.Pump(pe & POLLIN, se & POLLOUT);
            if (!ok) {
                ::close(calls[i].sock);
                calls[i].sock = -1;
            }
        }
    }
}

// --- the hosts: one thread serving every pty master -------------------------

// What the hosts do with their lines.
enum class HostMode { Echo, Sink, Source };

// Serves the masters of all lines on one thread: echoes every byte back,
// counts what arrives, or sends an endless stream without 0xFF.
class Hosts {
public:
    explicit Hosts(std::vector<PtyHost*> lines) : lines_(std::move(lines)), received_(lines_.size())
    {
        ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK);
        thread_ = std::thread([this] { Run(); });
    }
    ~Hosts()
    {
        stop_ = true;
        Wake();
        thread_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    void SetMode(HostMode m)
    {
        mode_ = m;
        Wake();
    }
    // Bytes received on all lines so far.
    uint64_t Received() const
    {
        uint64_t n = 0;
        for (const auto& r : received_) n += r.load();
        return n;
    }

private:
    void Wake()
    {
        char c = 0;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
    }

    void Run()
    {
        std::vector<std::string> pending(lines_.size());  // echo bytes a master has not taken yet
        std::string stream(65536, '\0');
        for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<char>('0' + i % 64);
        std::vector<char> buf(65536);
        while (!stop_) {
            HostMode mode = mode_;
            std::vector<pollfd> p{{wake_[0], POLLIN, 0}};
            for (size_t i = 0; i < lines_.size(); ++i) {
                bool out = mode == HostMode::Source || !pending[i].empty();
                p.push_back({lines_[i]->fd(), static_cast<short>(POLLIN | (out ? POLLOUT : 0)), 0});
            }
            if (::poll(p.data(), p.size(), 200) < 0 && errno != EINTR) return;
            if (p[0].revents & POLLIN)
                while (::read(wake_[0], buf.data(), buf.size()) > 0) {
                }
            for (size_t i = 0; i < lines_.size(); ++i) {
                int fd = lines_[i]->fd();
                if (p[i + 1].revents & POLLIN) {
                    ssize_t n = ::read(fd, buf.data(), buf.size());
                    if (n > 0) {
                        received_[i] += static_cast<uint64_t>(n);
                        if (mode == HostMode::Echo) pending[i].append(buf.data(), static_cast<size_t>(n));
                    }
                }
                if (!pending[i].empty()) {
                    ssize_t n = ::write(fd, pending[i].data(), pending[i].size());
                    if (n > 0) pending[i].erase(0, static_cast<size_t>(n));
                } else if (mode == HostMode::Source && (p[i + 1].revents & POLLOUT)) {
                    [[maybe_unused]] ssize_t n = ::write(fd, stream.data(), stream.size());
                }
            }
        }
    }

    std::vector<PtyHost*> lines_;
    std::vector<std::atomic<uint64_t>> received_;
    std::atomic<HostMode> mode_{HostMode::Echo};
    std::atomic<bool> stop_{false};
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

// --- the callers ---------------------------------------------------------------

// Drops telnet commands from what a caller receives and undoubles IAC IAC, so
// that the relays' own negotiation does not count as data.
class TelnetStrip {
public:
    // The data bytes among `in`.
    std::string Feed(std::string_view in)
    {
        std::string out;
        for (char ch : in) {
            auto c = static_cast<unsigned char>(ch);
            switch (state_) {
            case State::Data:
                if (c == 0xFF) state_ = State::Iac;
                else out += ch;
                break;
            case State::Iac:
                if (c == 0xFF) out += ch, state_ = State::Data;
                else if (c >= 0xFB) state_ = State::Option;  // WILL WONT DO DONT
                else if (c == 0xFA) state_ = State::Sub;
                else state_ = State::Data;
                break;
            case State::Option: state_ = State::Data; break;
            case State::Sub: state_ = c == 0xFF ? State::SubIac : State::Sub; break;
            case State::SubIac: state_ = c == 0xF0 ? State::Data : State::Sub; break;
            }
        }
        return out;
    }

private:
    enum class State { Data, Iac, Option, Sub, SubIac } state_ = State::Data;
};

struct Caller {
    TcpCaller conn;
    TelnetStrip strip;
};

// Reads what a caller has now; the data bytes after telnet stripping, or
// nothing when the connection ended.
std::optional<std::string> ReadData(Caller& c)
{
    char buf[65536];
    ssize_t n = ::read(c.conn.fd(), buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return std::nullopt;
    return n > 0 ? c.strip.Feed(std::string_view(buf, static_cast<size_t>(n))) : std::string();
}

// --- one relay under test ------------------------------------------------------

struct Figures {
    bool ran = false;
    std::string note;  // why it did not run
    double rttMedianUs = 0, rttP99Us = 0;
    size_t rttSamples = 0;
    double upMBs = 0, downMBs = 0;  // caller to host, host to caller
    double idleCpuMs = -1;  // from /proc/<pid>/stat, in clock ticks
    double idleCpuUs = -1;  // from the threads' schedstat, in nanoseconds
};

// A relay started on a set of lines: how callers reach line k, and its pid.
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
    explicit SkiffaRelay(size_t lines) : lines_(lines) {}
    // Skiffa gets its own ptys (RelayRun makes them); the caller of Start
    // takes them from hosts().
    std::string Prepare()
    {
        RelaySetup setup;
        setup.lines.assign(lines_, LineSetup{.ring = 0, .connect = 0, .dsr = 0});
        setup.log = false;
        return run_.Prepare(setup);
    }
    std::vector<PtyHost*> hosts()
    {
        std::vector<PtyHost*> h;
        for (size_t i = 0; i < lines_; ++i) h.push_back(&run_.host(i));
        return h;
    }
    std::string Start(const std::vector<std::string>&) override
    {
        std::string why = run_.Launch();
        if (why.empty() && !run_.WaitLinesOpen(&why)) return why;
        return why;
    }
    int PortFor(size_t) const override { return run_.port(); }
    pid_t Pid() override { return run_.process().pid(); }
    void Stop() override { run_.Stop(); }

private:
    size_t lines_;
    RelayRun run_;
};

// ser2net in telnet mode; `tuned` turns off its wait for more characters
// after each byte from the line (chardelay) and widens its 64-byte buffers.
class Ser2netRelay : public Relay {
public:
    explicit Ser2netRelay(bool tuned) : tuned_(tuned) {}
    ~Ser2netRelay() override
    {
        process_.Kill();
        std::error_code ec;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
    }
    std::string Start(const std::vector<std::string>& slaves) override
    {
        std::string base = (std::filesystem::temp_directory_path() / "ser2net-bench-XXXXXX").string();
        if (!::mkdtemp(base.data())) return "mkdtemp failed";
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
        if (!process_.Start({"/usr/sbin/ser2net", "-n", "-u", "-c", (folder_ / "ser2net.yaml").string(), "-P",
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

// CPU time (user + system) a process has used so far, in milliseconds.
double CpuMs(pid_t pid)
{
    std::string stat = RelayRun::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream in(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // After the name: state is field 3, utime field 14, stime field 15.
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Time a process's threads have spent on a CPU so far, in microseconds (the
// kernel's scheduler statistics: finer than the clock ticks of stat).
double SchedCpuUs(pid_t pid)
{
    double ns = 0;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::istringstream in(RelayRun::ReadFile(task.path() / "schedstat"));
        double run = 0;
        if (in >> run) ns += run;
    }
    return ns / 1000.0;
}

double Percentile(std::vector<double>& v, double q)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = std::min(v.size() - 1, static_cast<size_t>(std::floor(q * static_cast<double>(v.size()))));
    return v[i];
}

// Connects one caller per line and checks that a byte goes round through
// every line's echoing host; the reason when one does not.
std::string ConnectCallers(Relay& relay, size_t lines, std::vector<Caller>& callers)
{
    for (size_t i = 0; i < lines; ++i) {
        std::string why;
        std::optional<TcpCaller> c = TcpCaller::Connect(relay.PortFor(i), kDeadline, 0, &why);
        if (!c) return "no connection: " + why;
        callers.push_back(Caller{std::move(*c), {}});
        // One caller at a time: relays that hand out lines in order of
        // arrival then give caller i line i.
        if (!callers.back().conn.WriteAll("a")) return "cannot write";
        std::string got;
        Deadline deadline(5s);
        while (got.find('a') == std::string::npos) {
            if (deadline.Passed()) return "no echo on line " + std::to_string(i + 1) + " within 5 s";
            pollfd p{callers.back().conn.fd(), POLLIN, 0};
            ::poll(&p, 1, deadline.PollMs());
            std::optional<std::string> d = ReadData(callers.back());
            if (!d) return "line " + std::to_string(i + 1) + ": connection ended";
            got += *d;
        }
    }
    return {};
}

// Single bytes bounced off the echoing hosts on every line at once.
void MeasureRtt(std::vector<Caller>& callers, Figures& f)
{
    const size_t want = callers.size() == 1 ? 4000 : 300;
    const size_t n = callers.size();
    std::vector<double> rtt;
    std::vector<Clock::time_point> sent(n);
    std::vector<size_t> count(n, 0);
    std::vector<bool> waiting(n, false);
    Deadline budget(3s);
    unsigned char next = 'b';
    while (!budget.Passed()) {
        bool all = true;
        for (size_t i = 0; i < n; ++i) {
            if (count[i] >= want || waiting[i]) {
                all = all && count[i] >= want;
                continue;
            }
            all = false;
            char b = static_cast<char>(next);
            next = next == 'z' ? 'b' : next + 1;
            sent[i] = Clock::now();
            if (::send(callers[i].conn.fd(), &b, 1, MSG_NOSIGNAL) == 1) waiting[i] = true;
        }
        if (all) break;
        std::vector<pollfd> p;
        for (auto& c : callers) p.push_back({c.conn.fd(), POLLIN, 0});
        ::poll(p.data(), p.size(), 100);
        for (size_t i = 0; i < n; ++i) {
            if (!(p[i].revents & POLLIN)) continue;
            std::optional<std::string> d = ReadData(callers[i]);
            if (d && !d->empty() && waiting[i]) {
                rtt.push_back(Us(Clock::now() - sent[i]).count());
                waiting[i] = false;
                ++count[i];
            }
        }
    }
    f.rttSamples = rtt.size();
    f.rttMedianUs = Percentile(rtt, 0.5);
    f.rttP99Us = Percentile(rtt, 0.99);
}

// Waits until neither the hosts nor the callers have received anything for
// 300 ms (what was under way when a phase ended), at most 10 s.
void Drain(Hosts& hosts, std::vector<Caller>& callers)
{
    Deadline limit(10s);
    auto quietSince = Clock::now();
    uint64_t seen = hosts.Received();
    while (!limit.Passed() && Clock::now() - quietSince < 300ms) {
        std::vector<pollfd> p;
        for (auto& c : callers) p.push_back({c.conn.fd(), POLLIN, 0});
        ::poll(p.data(), p.size(), 50);
        bool any = false;
        for (size_t i = 0; i < callers.size(); ++i)
            if (p[i].revents & POLLIN) {
                std::optional<std::string> d = ReadData(callers[i]);
                any = any || (d && !d->empty());
            }
        uint64_t now = hosts.Received();
        if (any || now != seen) quietSince = Clock::now(), seen = now;
    }
}

constexpr auto kWarmUp = 250ms;
constexpr auto kWindow = 2s;

// Every caller sends an endless stream; the hosts count what arrives.
double MeasureUp(Hosts& hosts, std::vector<Caller>& callers)
{
    hosts.SetMode(HostMode::Sink);
    std::string chunk(65536, '\0');
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>('A' + i % 26);
    auto start = Clock::now();
    uint64_t from = 0;
    bool counting = false;
    for (;;) {
        auto now = Clock::now();
        if (!counting && now - start >= kWarmUp) from = hosts.Received(), counting = true;
        if (now - start >= kWarmUp + kWindow) break;
        std::vector<pollfd> p;
        for (auto& c : callers) p.push_back({c.conn.fd(), POLLOUT, 0});
        ::poll(p.data(), p.size(), 20);
        for (size_t i = 0; i < callers.size(); ++i)
            if (p[i].revents & POLLOUT)
                [[maybe_unused]] ssize_t n = ::send(callers[i].conn.fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL);
    }
    double mb = static_cast<double>(hosts.Received() - from) / 1e6;
    Drain(hosts, callers);
    hosts.SetMode(HostMode::Echo);
    return mb / Sec(kWindow).count();
}

// Every host sends an endless stream; the callers count what arrives.
double MeasureDown(Hosts& hosts, std::vector<Caller>& callers)
{
    hosts.SetMode(HostMode::Source);
    auto start = Clock::now();
    uint64_t total = 0, from = 0;
    bool counting = false;
    for (;;) {
        auto now = Clock::now();
        if (!counting && now - start >= kWarmUp) from = total, counting = true;
        if (now - start >= kWarmUp + kWindow) break;
        std::vector<pollfd> p;
        for (auto& c : callers) p.push_back({c.conn.fd(), POLLIN, 0});
        ::poll(p.data(), p.size(), 20);
        for (size_t i = 0; i < callers.size(); ++i)
            if (p[i].revents & POLLIN)
                if (std::optional<std::string> d = ReadData(callers[i])) total += d->size();
    }
    hosts.SetMode(HostMode::Sink);
    double mb = static_cast<double>(total - from) / 1e6;
    Drain(hosts, callers);
    hosts.SetMode(HostMode::Echo);
    return mb / Sec(kWindow).count();
}

// Runs every measurement on one relay with `lines` lines.
Figures Measure(const std::string& name, size_t lines)
{
    Figures f;
    std::unique_ptr<Relay> relay;
    std::vector<std::optional<PtyHost>> own;  // the lines, unless skiffa made them
    std::vector<PtyHost*> ptys;
    if (name == "skiffa") {
        auto s = std::make_unique<SkiffaRelay>(lines);
        f.note = s->Prepare();
        if (!f.note.empty()) return f;
        ptys = s->hosts();
        relay = std::move(s);
    } else {
        own.reserve(lines);  // ptys points into it
        for (size_t i = 0; i < lines; ++i) {
            own.push_back(PtyHost::Open(&f.note));
            if (!own.back()) return f;
            ptys.push_back(&*own.back());
        }
        if (name == "floor") relay = std::make_unique<FloorRelay>();
        else relay = std::make_unique<Ser2netRelay>(name == "ser2net tuned");
    }
    std::vector<std::string> slaves;
    for (PtyHost* p : ptys) {
        // The hosts hold their lines open too, so that a master never reports
        // a hang-up (ser2net opens a line only when its caller comes).
        p->KeepFarEndOpen();
        slaves.push_back(p->slave_path());
    }
    Hosts hosts(ptys);
    f.note = relay->Start(slaves);
    if (!f.note.empty()) return f;
    std::vector<Caller> callers;
    f.note = ConnectCallers(*relay, lines, callers);
    if (!f.note.empty()) {
        relay->Stop();
        return f;
    }
    MeasureRtt(callers, f);
    f.upMBs = MeasureUp(hosts, callers);
    f.downMBs = MeasureDown(hosts, callers);
    if (lines > 1) {
        double before = CpuMs(relay->Pid()), beforeUs = SchedCpuUs(relay->Pid());
        std::this_thread::sleep_for(3s);
        f.idleCpuMs = CpuMs(relay->Pid()) - before;
        f.idleCpuUs = SchedCpuUs(relay->Pid()) - beforeUs;
    }
    f.ran = true;
    callers.clear();
    relay->Stop();
    return f;
}

std::string Cell(bool ok, double v, int precision)
{
    if (!ok) return "-";
    char b[32];
    std::snprintf(b, sizeof b, "%.*f", precision, v);
    return b;
}

std::string Ratio(bool ok, double a, double b)
{
    if (!ok || b <= 0) return "-";
    char s[32];
    std::snprintf(s, sizeof s, "%.2fx", a / b);
    return s;
}

// The figures of one line count: a column per relay, then skiffa's ratios.
void Report(size_t lines, const std::vector<std::pair<std::string, Figures>>& runs)
{
    const Figures& sk = runs[0].second;
    std::printf("\n%zu line%s\n  %-29s", lines, lines == 1 ? "" : "s", "");
    for (const auto& [name, f] : runs) std::printf(" %13s", name.c_str());
    for (size_t i = 1; i < runs.size(); ++i) std::printf(" %13s", ("/" + runs[i].first).c_str());
    std::printf("\n");
    auto row = [&](const char* what, double Figures::*m, int prec) {
        std::printf("  %-29s", what);
        for (const auto& [name, f] : runs) std::printf(" %13s", Cell(f.ran, f.*m, prec).c_str());
        for (size_t i = 1; i < runs.size(); ++i)
            std::printf(" %13s", Ratio(sk.ran && runs[i].second.ran, sk.*m, runs[i].second.*m).c_str());
        std::printf("\n");
    };
    row("echo round trip median (us)", &Figures::rttMedianUs, 1);
    row("echo round trip p99 (us)", &Figures::rttP99Us, 1);
    row("caller to host (MB/s)", &Figures::upMBs, 2);
    row("host to caller (MB/s)", &Figures::downMBs, 2);
    if (lines > 1) {
        row("CPU while quiet 3 s (ms, stat)", &Figures::idleCpuMs, 0);
        row("  same, from schedstat (us)", &Figures::idleCpuUs, 0);
    }
    std::printf("  round trips measured:");
    for (const auto& [name, f] : runs) std::printf(" %s %zu;", name.c_str(), f.rttSamples);
    std::printf("\n");
    for (const auto& [name, f] : runs)
        if (!f.ran) std::printf("  %s: not measured: %s\n", name.c_str(), f.note.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string_view(argv[1]) == "--floor")
        return RunFloor(std::atoi(argv[2]), std::vector<std::string>(argv + 3, argv + argc));
    ::signal(SIGPIPE, SIG_IGN);

    utsname u{};
    ::uname(&u);
    std::printf("Relay benchmark: telnet callers on loopback TCP, hosts on ptys that echo\n");
    std::printf("(round trips, single bytes), count (caller to host) or send (host to caller).\n");
    std::printf("machine: %u CPUs, %s %s; ser2net: %s\n", std::thread::hardware_concurrency(), u.sysname, u.release,
                std::filesystem::exists("/usr/sbin/ser2net") ? "/usr/sbin/ser2net" : "missing");
    std::fflush(stdout);

    bool skiffaRelays = true;
    for (size_t lines : {size_t{1}, size_t{32}}) {
        std::vector<std::pair<std::string, Figures>> runs;
        for (const char* name : {"skiffa", "ser2net", "ser2net tuned", "floor"}) {
            runs.emplace_back(name, Measure(name, lines));
            if (runs.size() == 1 && !runs[0].second.ran) {
                skiffaRelays = false;
                std::printf("\nskiffa does not relay yet (%s); measuring the others only\n",
                            runs[0].second.note.c_str());
                std::fflush(stdout);
            }
        }
        Report(lines, runs);
        std::fflush(stdout);
    }
    return skiffaRelays ? 0 : 1;
}
