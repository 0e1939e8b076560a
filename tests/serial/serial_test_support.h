// Helpers shared by the serial driver's tests: a module path inside a
// temporary folder with com/ links, a window stand-in that queues the data
// messages a reader posts, and a consumer that takes their slots.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "support/scratch_files.h"
#include "platform/base/message.h"
#include "platform/base/module.h"
#include "serial/SerialPort.h"

namespace serial_test {

using namespace std::chrono_literals;

constexpr UINT kDataMsg = WM_APP + 3;

// Pretends the executable lies in a temporary folder, so COM names resolve
// through that folder's com/ links.
class ModuleFolder {
public:
    ModuleFolder() { SetModuleFileNameForTesting(m_dir.File("skiffa")); }
    ~ModuleFolder() { SetModuleFileNameForTesting(""); }
    ModuleFolder(const ModuleFolder&) = delete;
    ModuleFolder& operator=(const ModuleFolder&) = delete;

    std::string path() const { return m_dir.Path().string(); }

    // Wires `comName` to `target` with a link com/<comName>.
    bool Link(const std::string& comName, const std::string& target)
    {
        std::error_code ec;
        std::filesystem::create_directories(m_dir.Path() / "com", ec);
        std::filesystem::create_symlink(target, m_dir.Path() / "com" / comName, ec);
        return !ec;
    }

private:
    scratch::TempDir m_dir{"skiffa-serial-"};
};

// Runs the test in a temporary current directory, where debug.log lands.
class CurrentDirectory {
public:
    std::string path() const { return m_dir.Path().string(); }
    std::string File(const std::string& name) const { return m_dir.File(name); }

private:
    scratch::TempDir m_dir{"skiffa-serial-"};
    scratch::WorkIn m_work{m_dir.Path()};
};

struct Message {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

// A window stand-in: PostMessage queues from any thread, the test takes the
// messages in order.
class MessageQueue : public MessageTarget {
public:
    bool PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_refuse)
            return false;
        m_queue.push_back({msg, wParam, lParam});
        m_changed.notify_all();
        return true;
    }
    LRESULT SendMessage(UINT, WPARAM, LPARAM) override { return 0; }

    // Makes PostMessage fail, as for a window that has gone.
    void Refuse(bool refuse)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_refuse = refuse;
    }

    std::optional<Message> Next(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [this] { return !m_queue.empty(); }))
            return std::nullopt;
        const Message m = m_queue.front();
        m_queue.pop_front();
        return m;
    }

    size_t Size()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_queue.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Message> m_queue;
    bool m_refuse = false;
};

// What the data messages of one port delivered.
struct Received {
    std::string bytes;
    std::vector<DWORD> counts;
    std::vector<int> slots;
    bool wellFormed = true;  // every message had the port's number, row and generation
};

// Handles data messages like the main window does: takes each slot, until
// `total` bytes have come or no message came for `quiet`.
inline Received ReceiveBytes(MessageQueue& queue, CSerialPort& port, size_t total,
                             std::chrono::milliseconds quiet = 10s)
{
    Received r;
    BYTE buffer[COM_SLOT_SIZE];
    while (r.bytes.size() < total) {
        const std::optional<Message> m = queue.Next(quiet);
        if (!m)
            break;
        if (m->msg != kDataMsg || m->wParam != static_cast<WPARAM>(port.PortIndex()) ||
            CSerialPort::GenerationOfMessage(m->lParam) != port.Generation())
            r.wellFormed = false;
        const int slot = CSerialPort::SlotOfMessage(m->lParam);
        const DWORD n = port.TakeSlot(slot, buffer);
        r.slots.push_back(slot);
        r.counts.push_back(n);
        r.bytes.append(reinterpret_cast<const char*>(buffer), n);
    }
    return r;
}

// A byte pattern that shows any loss, doubling or reordering: position i
// holds a byte derived from i with a long period.
inline std::string Pattern(size_t size, unsigned seed = 1)
{
    std::string s(size, '\0');
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

}  // namespace serial_test
