// Pieces for driving the built relay from outside, as its callers and hosts
// see it: pseudo-terminal hosts, raw TCP callers, a scratch folder with its own
// copy of the program, korvo.ini and com/ links, and the relay as a child
// process. The bodies are in harness.cpp (the library skiffa_e2e_harness); it
// is free of the test framework, so that the relay benchmark uses the same
// pieces as the end-to-end tests.
#pragma once

#include "support/free_port.h"
#include "support/telnet_offers.h"

#include "relay/LineSettings.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
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

// --- small helpers -------------------------------------------------------------

// Bytes as text for failure messages: printable ASCII as is, the rest as <xx>;
// long runs are cut in the middle.
std::string Printable(std::string_view bytes, size_t max = 200);

// Every 0xFF doubled, as telnet carries a data byte 0xFF.
std::string DoubleIac(std::string_view bytes);

// A point in time after which a wait gives up.
class Deadline {
public:
    explicit Deadline(Clock::duration d) : end_(Clock::now() + d) {}
    bool Passed() const { return Clock::now() >= end_; }
    Clock::duration Remaining() const { return std::max<Clock::duration>(end_ - Clock::now(), 0s); }
    // The remaining time as a poll() time-out in milliseconds, rounded up.
    int PollMs() const;

private:
    Clock::time_point end_;
};

// Owns one file descriptor; move-only.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

std::string ErrnoText(int err);

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
    bool Fill(Clock::duration wait);

    // Takes the first n buffered bytes (all of them when fewer are there).
    std::string Take(size_t n);
    std::string TakeAll() { return Take(buf_.size()); }

    // Waits until n bytes are buffered and takes them; nothing on time-out or
    // when the stream ends first.
    std::optional<std::string> ReadN(size_t n, Clock::duration wait = kDeadline);

    // Waits until `marker` is buffered; takes everything up to and including it.
    std::optional<std::string> ReadUntil(std::string_view marker, Clock::duration wait = kDeadline);

    // Waits for the end of the stream; takes everything that came before it.
    std::optional<std::string> ReadToEnd(Clock::duration wait = kDeadline);

    // Takes whatever is buffered or arrives within `wait`.
    std::string TakeAvailable(Clock::duration wait = 0s);

    // Writes every byte, waiting for room as long as the deadline allows.
    bool WriteAll(std::string_view bytes, Clock::duration wait = kDeadline);

    // One non-blocking write attempt: the count written, or -1 with errno.
    ssize_t WriteSome(std::string_view bytes);

    // A line for failure messages: what is buffered and how the stream stands.
    std::string Describe() const;

protected:
    bool Fail(int err);

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
    static std::optional<PtyHost> Open(std::string* why = nullptr);

    const std::string& slave_path() const { return slave_; }

    // True while some process holds the slave side open.
    bool Held() const;

    // Waits until some process holds the slave side open.
    bool WaitHeld(Clock::duration wait = kDeadline) const;

    // Keeps the slave side open from this process too, so that the master
    // never reports a hang-up while relays come and go (the benchmark runs
    // several relays on one line). Held() is then always true.
    bool KeepFarEndOpen();

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
                                            const std::function<bool()>& alive = {});

    // Half-close: the relay sees the end of the caller's stream.
    void ShutdownWrite();
    // Abortive close: the relay sees a reset.
    void Reset();
    void Close();
};

// Moves bytes both ways at once: writes out_a into a and out_b into b while
// reading both, until a has buffered want_a bytes and b want_b. False at the
// deadline or when a stream ends short; what arrived stays in the buffers.
bool Exchange(Stream& a, std::string_view out_a, size_t want_a, Stream& b, std::string_view out_b,
              size_t want_b, Clock::duration wait);

// --- scratch folder and the relay process --------------------------------------

// A TCP port that nobody uses right now, the same choice the in-process
// tests make.
using scratch::FreeTcpPort;

// The folder of the running executable; built programs lie side by side there.
std::filesystem::path OwnFolder();

// CR, LF and TAB written as \r, \n and \t, as korvo.ini stores its texts.
std::string EscapeIniText(std::string_view text);

// One COM line of the relay's configuration (section COMn): its settings,
// starting from values that suit quick runs over ptys.
struct LineSetup : CLineSettings {
    LineSetup()
        : CLineSettings{.m_nParity = NOPARITY,
                        .m_nRing = 0,
                        .m_nRingInterval = 200,
                        .m_nConnectInterval = 0,
                        .m_bDsr = 0}  // a pty has no modem lines
    {
    }
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
std::string KorvoIni(const RelaySetup& s, int port, const std::string& folder);

// A child process's wait status as words.
std::string StatusText(int status);

// A started child process, its output kept in a file. Killed if still
// running when this object goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&& o) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Kill(); }

    // Starts argv[0] in `dir` with `env` added to this process's environment,
    // stdout and stderr going to `output`. The child dies with this process.
    bool Start(const std::vector<std::string>& argv, const std::string& dir,
               const std::vector<std::string>& env, const std::string& output, std::string* why);

    pid_t pid() const { return pid_; }

    // True while the child has not ended (its end is collected when seen).
    bool Running();

    // The wait status of the ended child, if it has ended.
    std::optional<int> status() const { return status_; }

    // Waits for the child to end; its wait status, or nothing at the deadline.
    std::optional<int> Wait(Clock::duration wait);

    // Sends a signal and waits for the end.
    std::optional<int> Stop(int sig, Clock::duration wait);

    void Kill();

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
    ~RelayRun();

    // Makes the folder, the lines and the configuration, and starts the relay.
    // An empty result means it started; otherwise it says what went wrong.
    std::string Start(const RelaySetup& setup, const std::filesystem::path& program = OwnFolder() / "skiffa");

    // The folder, the program, the lines and korvo.ini, without starting.
    std::string Prepare(const RelaySetup& setup,
                        const std::filesystem::path& program = OwnFolder() / "skiffa");

    // Starts the prepared relay in its folder on the offscreen platform, or
    // with the environment changes `env` ("NAME=value", an empty value for an
    // unset variable) in place of that choice.
    std::string Launch(const std::vector<std::string>& env = {"QT_QPA_PLATFORM=offscreen"});

    const std::filesystem::path& folder() const { return folder_; }
    int port() const { return port_; }
    size_t lines() const { return hosts_.size(); }
    PtyHost& host(size_t i) { return hosts_.at(i).value(); }
    ChildProcess& process() { return process_; }
    // Keeps the folder after the run (for a look at a failure).
    void KeepFolder() { keep_ = true; }

    // Waits until the relay has opened every line; the failing line, if any,
    // is described in *why.
    bool WaitLinesOpen(std::string* why, Clock::duration wait = kDeadline);

    // A caller connected to the relay's port (retrying while it does not
    // listen yet); nothing, with the reason in *why, when none could connect.
    std::optional<TcpCaller> Call(std::string* why = nullptr, int rcvbuf = 0,
                                  Clock::duration wait = kDeadline);

    // SIGTERM, then the wait for the end: the wait status, or nothing.
    std::optional<int> Stop(Clock::duration wait = kDeadline) { return process_.Stop(SIGTERM, wait); }

    // Whether the relay runs, or how it ended.
    std::string State();

    // What the relay printed.
    std::string Output() const { return ReadFile(folder_ / "skiffa.out"); }

    // The daily log files of the folder, joined (two at a change of day).
    std::string Logs() const;

    // Waits until the daily logs hold `count` lines that contain `needle`;
    // the whole log text either way.
    std::string WaitLogLines(std::string_view needle, size_t count, bool* ok,
                             Clock::duration wait = kDeadline);

    static std::string ReadFile(const std::filesystem::path& p);

private:
    std::filesystem::path folder_;
    std::filesystem::path exe_;
    std::vector<std::optional<PtyHost>> hosts_;
    int port_ = 0;
    ChildProcess process_;
    bool keep_ = false;
};

// Local time of day in seconds, for checking the times the log writes.
int SecondsOfDayNow();

}  // namespace e2e
