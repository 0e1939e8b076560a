// The serial driver's receive path on a pty: throughput and latency from the
// far end to a handled data message (reader thread, ring slot, posted
// message, a consumer taking the slot), each beside a bare poll+read loop on
// the same kind of line in the same run; and the CPU time an open port uses
// while its line is quiet.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/comm_pty.h"
#include "platform/base/message.h"
#include "platform/base/module.h"
#include "serial/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr UINT kDataMsg = WM_APP + 3;
constexpr size_t kThroughputBytes = 32u << 20;
constexpr int kLatencySamples = 2000;

// The pattern every byte is checked against, so a fast figure cannot hide
// lost or reordered bytes.
std::string Pattern(size_t size)
{
    std::string s(size, '\0');
    std::uint32_t x = 12345u;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

// The main window's part: a queue the reader posts into, drained by a
// consumer thread that takes each slot and hands its bytes on.
class ConsumerWindow : public MessageTarget {
public:
    explicit ConsumerWindow(std::function<void(const BYTE*, DWORD)> onBytes) : m_onBytes(std::move(onBytes))
    {
    }
    ~ConsumerWindow() override { Stop(); }

    void Start(CSerialPort* port)
    {
        m_port = port;
        m_thread = std::thread([this] { Run(); });
    }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    bool PostMessage(UINT /*msg*/, WPARAM /*wParam*/, LPARAM lParam) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(lParam);
        }
        m_changed.notify_one();
        return true;
    }
    LRESULT SendMessage(UINT, WPARAM, LPARAM) override { return 0; }

private:
    void Run()
    {
        BYTE buffer[COM_SLOT_SIZE];
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            const LPARAM lParam = m_queue.front();
            m_queue.pop_front();
            lock.unlock();
            const DWORD n = m_port->TakeSlot(CSerialPort::SlotOfMessage(lParam), buffer);
            m_onBytes(buffer, n);
            lock.lock();
        }
    }

    std::function<void(const BYTE*, DWORD)> m_onBytes;
    CSerialPort* m_port = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<LPARAM> m_queue;
    bool m_stop = false;
    std::thread m_thread;
};

// Counts arriving bytes against the pattern and wakes whoever waits for a
// given total.
class Arrivals {
public:
    explicit Arrivals(const std::string& expected) : m_expected(expected) {}

    void Add(const char* data, size_t n)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_count + n > m_expected.size() || std::memcmp(data, m_expected.data() + m_count, n) != 0)
            m_corrupt = true;
        m_count += n;
        m_last = Clock::now();
        m_changed.notify_all();
    }
    // Waits until `total` bytes have come; the time the last of them came.
    bool WaitFor(size_t total, Clock::time_point& when)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool ok = m_changed.wait_for(lock, 60s, [&] { return m_count >= total; });
        when = m_last;
        return ok && !m_corrupt;
    }

private:
    const std::string& m_expected;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_count = 0;
    bool m_corrupt = false;
    Clock::time_point m_last;
};

struct PathFigures {
    double bytesPerSecond = 0;
    double medianUs = 0;
    double p99Us = 0;
    bool ok = false;
};

// Pushes `data` through the far end, then sends single bytes and times each
// one until it arrives.
PathFigures Measure(PseudoTerminal& pty, Arrivals& arrivals, const std::string& data)
{
    PathFigures f;
    Clock::time_point done;
    const Clock::time_point start = Clock::now();
    std::thread writer([&] { pty.Write(std::string_view(data).substr(0, kThroughputBytes), 60000); });
    f.ok = arrivals.WaitFor(kThroughputBytes, done);
    writer.join();
    f.bytesPerSecond = kThroughputBytes / std::chrono::duration<double>(done - start).count();

    std::vector<double> us;
    for (int i = 0; i < kLatencySamples && f.ok; ++i) {
        const size_t at = kThroughputBytes + static_cast<size_t>(i);
        const Clock::time_point sent = Clock::now();
        pty.Write(std::string_view(data).substr(at, 1));
        Clock::time_point came;
        f.ok = arrivals.WaitFor(at + 1, came);
        us.push_back(std::chrono::duration<double, std::micro>(came - sent).count());
    }
    std::sort(us.begin(), us.end());
    if (!us.empty()) {
        f.medianUs = us[us.size() / 2];
        f.p99Us = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    }
    return f;
}

// A temporary folder standing in for the executable's, with com/COM1 linked
// to the pty.
struct ModuleFolder {
    ModuleFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "skiffa-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path = pattern;
        SetModuleFileNameForTesting(path + "/skiffa");
    }
    ~ModuleFolder()
    {
        SetModuleFileNameForTesting("");
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

double ProcessCpuMs()
{
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

}  // namespace

int main()
{
    const std::string data = Pattern(kThroughputBytes + kLatencySamples);
    ModuleFolder folder;

    // --- the driver's path ---------------------------------------------------
    PathFigures driver;
    double idleCpuMs = -1;
    {
        PseudoTerminal pty;
        std::error_code ec;
        std::filesystem::create_directories(folder.path + "/com", ec);
        std::filesystem::create_symlink(pty.SlavePath(), folder.path + "/com/COM1", ec);
        Arrivals arrivals(data);
        ConsumerWindow window(
            [&](const BYTE* b, DWORD n) { arrivals.Add(reinterpret_cast<const char*>(b), n); });
        auto port = std::make_unique<CSerialPort>();
        if (!pty.IsOpen() || ec || !port->Open("COM1", 115200, 8, 1, 0, &window, kDataMsg, 0)) {
            std::fprintf(stderr, "serial_bench: cannot open a pty as COM1\n");
            return 1;
        }
        window.Start(port.get());
        driver = Measure(pty, arrivals, data);

        const double before = ProcessCpuMs();
        std::this_thread::sleep_for(2s);  // the quiet line being measured
        idleCpuMs = ProcessCpuMs() - before;

        port->Close();
        window.Stop();
    }

    // --- a bare poll+read loop on a pty of its own ----------------------------
    PathFigures bare;
    {
        PseudoTerminal pty;
        RawTty tty(pty.SlavePath(), false);
        if (!pty.IsOpen() || !tty.IsOpen()) {
            std::fprintf(stderr, "serial_bench: cannot open a pty\n");
            return 1;
        }
        Arrivals arrivals(data);
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            char buffer[COM_SLOT_SIZE];
            while (!stop) {
                const size_t n = tty.ReadSome(buffer, sizeof buffer, 50);
                if (n > 0)
                    arrivals.Add(buffer, n);
            }
        });
        bare = Measure(pty, arrivals, data);
        stop = true;
        reader.join();
    }

    if (!driver.ok || !bare.ok) {
        std::fprintf(stderr, "serial_bench: bytes were lost, reordered or late\n");
        return 1;
    }
    std::printf("serial receive path on a pty, %zu MiB then %d single bytes\n", kThroughputBytes >> 20,
                kLatencySamples);
    std::printf("  throughput  driver %8.1f MB/s   bare poll+read %8.1f MB/s   ratio %.2f\n",
                driver.bytesPerSecond / 1e6, bare.bytesPerSecond / 1e6,
                driver.bytesPerSecond / bare.bytesPerSecond);
    std::printf("  latency     driver median %6.1f us  p99 %7.1f us\n", driver.medianUs, driver.p99Us);
    std::printf("              bare   median %6.1f us  p99 %7.1f us   ratio of medians %.2f\n", bare.medianUs,
                bare.p99Us, driver.medianUs / bare.medianUs);
    std::printf("  idle        %.1f ms of CPU time over 2 s with the port open and the line quiet\n",
                idleCpuMs);
    return 0;
}
