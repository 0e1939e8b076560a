// demohost: a small scripted BBS host on a pseudo-terminal, for the demo and
// for trying the relay by hand. It plays the host side of a modem line: it
// initialises the "modem", answers RING with ATA, waits for CONNECT, greets
// the caller, echoes what the caller types and hangs up on "bye".
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The host's hang-up string: configure the same text as the relay's
// TEXT/CHECK1 (escaped: \r\nNO CARRIER\r\n) so that it ends the call.
constexpr std::string_view kHangup = "\r\nNO CARRIER\r\n";
// What the host sends to initialise its modem, and how long it waits for OK.
constexpr std::string_view kInit = "ATZ\r";
constexpr auto kInitRetry = 3s;
// After hanging up, the host gives the relay this long to end the call
// before it talks to its modem again (until then its bytes would still
// reach the caller).
constexpr auto kSettle = 1500ms;
// How long the host waits for CONNECT after ATA before starting over.
constexpr auto kConnectWait = 15s;
// While nobody holds the line open, the host looks again this often.
constexpr int kAwayPollMs = 250;

constexpr std::string_view kBanner =
    "\r\nWelcome to the Skiffa demo board.\r\n"
    "Type a line and press Enter: it comes back to you. Type bye to hang up.\r\n";
constexpr std::string_view kPrompt = "> ";

volatile sig_atomic_t g_stop = 0;
int g_wakeWrite = -1;

void OnSignal(int)
{
    g_stop = 1;
    if (g_wakeWrite >= 0) {
        char c = 0;
        [[maybe_unused]] ssize_t n = ::write(g_wakeWrite, &c, 1);
    }
}

void Usage(FILE* out)
{
    std::fprintf(out,
                 "usage: demohost FOLDER N   link the line as FOLDER/com/COMN (N from 1 to 100)\n"
                 "       demohost            print the line's device path\n"
                 "\n"
                 "A scripted BBS host on a pseudo-terminal. It sends \"ATZ\\r\" every %d s until\n"
                 "its modem answers OK, answers RING with \"ATA\\r\", waits for CONNECT, shows a\n"
                 "banner and echoes each line the caller types. On the line \"bye\" it hangs up\n"
                 "by sending \"\\r\\nNO CARRIER\\r\\n\" (set the relay's TEXT/CHECK1 to\n"
                 "\\r\\nNO CARRIER\\r\\n) and starts over. A line \"NO CARRIER\" from the relay\n"
                 "(its AFTER text) tells it that the caller has gone.\n"
                 "It ends on SIGINT or SIGTERM, removing the link it made.\n",
                 static_cast<int>(kInitRetry / 1s));
}

void Say(const char* fmt, const std::string& arg = {})
{
    std::printf("demohost: ");
    std::printf(fmt, arg.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

// The host's side of the line: the pty master, and the modem dialogue.
class Host {
public:
    enum class State {
        Away,       // nobody holds the line open; wait for the relay
        Init,       // ATZ sent; waiting for OK
        Ready,      // the modem is initialised; waiting for RING
        Answering,  // ATA sent; waiting for CONNECT
        Online,     // a caller is connected
        HangingUp,  // the hang-up string is out; letting the call end (RING still answered)
    };

    Host(int master, int wake) : master_(master), wake_(wake) {}

    // Runs until a signal asks to stop.
    void Run()
    {
        Enter(State::Away);
        while (!g_stop) {
            if (!LineHeld()) {
                if (state_ != State::Away) {
                    Say("the relay closed the line; waiting for it to open it again");
                    Enter(State::Away);
                }
                Wait(kAwayPollMs);
                continue;
            }
            if (state_ == State::Away) {
                Say("the relay opened the line");
                Enter(State::Init);
            }
            OnTimeouts();
            pollfd p[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
            int r = ::poll(p, 2, MsToDeadline());
            if (r < 0 && errno != EINTR)
                break;
            if (r > 0 && (p[0].revents & POLLIN))
                ReadLine();
            if (p[0].revents & POLLHUP)
                Wait(kAwayPollMs);
        }
    }

private:
    // True while some process (the relay) holds the slave side open: the
    // master reports a hang-up while nobody does.
    bool LineHeld() const
    {
        pollfd p{master_, POLLIN, 0};
        return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
    }

    // Sleeps up to ms, waking early for a signal.
    void Wait(int ms)
    {
        pollfd p{wake_, POLLIN, 0};
        ::poll(&p, 1, ms);
    }

    int MsToDeadline() const
    {
        if (!deadline_)
            return kAwayPollMs;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, kAwayPollMs));
    }

    void Enter(State s)
    {
        state_ = s;
        line_.clear();
        deadline_.reset();
        switch (s) {
        case State::Init:
            Send(kInit);
            deadline_ = Clock::now() + kInitRetry;
            break;
        case State::Answering: deadline_ = Clock::now() + kConnectWait; break;
        case State::HangingUp: deadline_ = Clock::now() + kSettle; break;
        default: break;
        }
    }

    void OnTimeouts()
    {
        if (!deadline_ || Clock::now() < *deadline_)
            return;
        switch (state_) {
        case State::Init: Enter(State::Init); break;  // no OK yet: ATZ again
        case State::Answering:
            Say("no CONNECT after ATA; starting over");
            Enter(State::Init);
            break;
        case State::HangingUp: Enter(State::Init); break;
        default: deadline_.reset(); break;
        }
    }

    void Send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            ssize_t n = ::write(master_, bytes.data(), bytes.size());
            if (n > 0) {
                bytes.remove_prefix(static_cast<size_t>(n));
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else if (n < 0 && errno != EINTR) {
                return;  // the line went away; the main loop notices
            }
            if (g_stop)
                return;
        }
    }

    void ReadLine()
    {
        char buf[4096];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            return;  // EAGAIN, or EIO when the relay let go (seen by LineHeld)
        for (ssize_t i = 0; i < n; ++i)
            OnByte(static_cast<unsigned char>(buf[i]));
    }

    void OnByte(unsigned char c)
    {
        if (state_ == State::Online) {
            OnCallerByte(c);
            return;
        }
        if (c == '\r' || c == '\n') {
            if (!line_.empty())
                OnModemLine(line_);
            line_.clear();
        } else if (line_.size() < 256) {
            line_ += static_cast<char>(c);
        }
    }

    // A line from the modem (the relay) while no caller is online.
    void OnModemLine(const std::string& line)
    {
        if (line == "RING") {
            // A caller may come while the host still settles after a call
            // or initialises: answer it, or its RINGs run out unheard.
            if (state_ != State::Answering) {
                Say("RING: answering");
                Send("ATA\r");
                Enter(State::Answering);
            }
        } else if (line == "OK") {
            if (state_ == State::Init) {
                Say("modem ready; waiting for a call");
                Enter(State::Ready);
            }
        } else if (line.rfind("CONNECT", 0) == 0 && state_ != State::HangingUp) {
            // In CONNECT mode 2 the line comes without ATA.
            Say("caller connected (%s)", line);
            Enter(State::Online);
            Send(kBanner);
            Send(kPrompt);
        }
    }

    // A byte typed by the caller: echoed; Enter ends a line.
    void OnCallerByte(unsigned char c)
    {
        if (c == '\r') {
            Send("\r\n");
            std::string typed = line_;
            line_.clear();
            OnCallerLine(typed);
        } else if (c == '\n' || c == 0) {
            // The LF or NUL of a telnet CR LF / CR NUL: the CR was the Enter.
        } else if (c == 0x08 || c == 0x7F) {
            if (!line_.empty()) {
                line_.pop_back();
                Send("\b \b");
            }
        } else if (line_.size() < 1024) {
            line_ += static_cast<char>(c);
            Send(std::string_view(reinterpret_cast<const char*>(&c), 1));
        }
    }

    void OnCallerLine(const std::string& typed)
    {
        if (typed == "bye") {
            Say("the caller said bye; hanging up");
            // No line end before the hang-up string: the relay's matcher
            // would take a CR LF as the string's start, fail at the next CR
            // and not try that CR as a new start.
            Send("Goodbye.");
            Send(kHangup);
            Enter(State::HangingUp);
        } else if (typed == "NO CARRIER") {
            // The relay's AFTER text: the caller has gone.
            Say("the caller has gone");
            Enter(State::Init);
        } else if (typed == "RING") {
            // A new call while the host thought the old one went on: the
            // relay rings only when nobody is connected.
            Say("RING while online: the caller had gone; answering the new call");
            Send("ATA\r");
            Enter(State::Answering);
        } else {
            Say("the caller typed: %s", typed);
            Send("You typed: " + typed + "\r\n");
            Send(kPrompt);
        }
    }

    int master_;
    int wake_;
    State state_ = State::Away;
    std::string line_;
    std::optional<Clock::time_point> deadline_;
};

// Opens a pty pair in raw mode; the master, or -1. The slave is opened and
// closed once, so that the master reports a hang-up until the relay opens it.
int OpenLine(std::string& slave)
{
    int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m < 0 || ::grantpt(m) != 0 || ::unlockpt(m) != 0)
        return -1;
    char name[128];
    if (::ptsname_r(m, name, sizeof name) != 0)
        return -1;
    slave = name;
    termios t{};
    ::tcgetattr(m, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(m, TCSANOW, &t);
    int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0)
        return -1;
    ::close(s);
    return m;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Usage(stdout);
        return 0;
    }
    if (argc != 1 && argc != 3) {
        Usage(stderr);
        return 2;
    }
    std::string link;
    if (argc == 3) {
        char* end = nullptr;
        long n = std::strtol(argv[2], &end, 10);
        if (*argv[2] == '\0' || *end != '\0' || n < 1 || n > 100) {
            std::fprintf(stderr, "demohost: the line number must be 1 to 100, not '%s'\n", argv[2]);
            return 2;
        }
        std::string com = std::string(argv[1]) + "/com";
        if (::mkdir(com.c_str(), 0755) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "demohost: cannot make %s: %s\n", com.c_str(), std::strerror(errno));
            return 1;
        }
        link = com + "/COM" + std::to_string(n);
    }

    std::string slave;
    int master = OpenLine(slave);
    if (master < 0) {
        std::fprintf(stderr, "demohost: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    if (!link.empty()) {
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "demohost: %s exists and is not a link; not replacing it\n",
                             link.c_str());
                return 1;
            }
            ::unlink(link.c_str());
        }
        if (::symlink(slave.c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "demohost: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
            return 1;
        }
        Say("line %s", slave + " linked as " + link);
    } else {
        std::printf("%s\n", slave.c_str());
        std::fflush(stdout);
    }

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    g_wakeWrite = wake[1];
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Say("waiting for the relay to open the line");
    Host(master, wake[0]).Run();

    // Remove the link only while it is still ours.
    if (!link.empty()) {
        char target[256];
        ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string_view(target, static_cast<size_t>(n)) == slave)
            ::unlink(link.c_str());
    }
    ::close(master);
    Say("stopped");
    return 0;
}
