// The port calls: handles and their lifetime, COM name resolution, checks of
// the line state, and the parts of reading and writing that are the same on
// every device (the write time-out, the event mask).
#include "platform/comm/comm.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <unordered_map>

#include "platform/comm/comm_object.h"
#include "platform/base/module.h"

namespace {

using Clock = std::chrono::steady_clock;

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local CommOpenFailure t_openFailure;

// Open handles by value. Values count up from 1 and are never handed out
// twice, so a stale handle finds nothing.
std::mutex g_handlesMutex;
std::unordered_map<std::uintptr_t, std::unique_ptr<CommPort>> g_handles;
std::uintptr_t g_nextHandle = 1;

std::atomic<CommPortOpener> g_opener{nullptr};

// One call inside a handle: while it lives, CloseHandle waits before it frees
// the port.
class HandleUse {
public:
    explicit HandleUse(HANDLE h)
    {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        const auto it = g_handles.find(reinterpret_cast<std::uintptr_t>(h));
        if (it == g_handles.end())
            return;
        m_port = it->second.get();
        std::lock_guard<std::mutex> portLock(m_port->m_mutex);
        ++m_port->m_users;
    }
    ~HandleUse()
    {
        if (m_port == nullptr)
            return;
        std::lock_guard<std::mutex> lock(m_port->m_mutex);
        if (--m_port->m_users == 0)
            m_port->m_usersGone.notify_all();
    }
    HandleUse(const HandleUse&) = delete;
    HandleUse& operator=(const HandleUse&) = delete;

    CommPort* get() const { return m_port; }

private:
    CommPort* m_port = nullptr;
};

BOOL Fail(DWORD error)
{
    t_lastError = error;
    return FALSE;
}

BOOL Result(DWORD error)
{
    if (error != ERROR_SUCCESS)
        return Fail(error);
    return TRUE;
}

// "COM3", "com3" or "\\.\COM3" -> "COM3" with its number; false for anything
// else. The number is plain decimal without leading zeros, from 1 up.
bool ParseComName(const char* path, std::string& canonical, unsigned& number)
{
    if (path == nullptr)
        return false;
    std::string name(path);
    if (name.rfind("\\\\.\\", 0) == 0)
        name.erase(0, 4);
    if (name.size() < 4 || name.size() > 8)
        return false;
    for (size_t i = 0; i < 3; ++i) {
        const char c = name[i];
        if (c != "COM"[i] && c != "com"[i])
            return false;
    }
    if (name[3] == '0')
        return false;
    number = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    canonical = "COM" + name.substr(3);
    return true;
}

// Where a COM port lives when no in-memory device has its name: the entry
// com/COMn beside the executable when there is one (even a broken link, so a
// port wired there never silently becomes another device), else the
// system's n-th serial port.
std::string TtyPathForPort(const std::string& canonical, unsigned number)
{
    const std::string module = GetModuleFileNameA();
    if (!module.empty()) {
        std::string entry = GetDirectoryPart(module) + "/com/" + canonical;
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(entry, ec)))
            return entry;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

// A device path for a report: a link with the device it points to.
std::string DescribeDevice(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    return ec ? path : path + " -> " + target.string();
}

// The system's words for an open that failed without giving its own.
std::string ReasonOf(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED: return std::strerror(EBUSY);
    case ERROR_FILE_NOT_FOUND: return std::strerror(ENOENT);
    default: return std::strerror(EIO);
    }
}

DWORD CheckLineState(const DCB& dcb)
{
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
        return ERROR_INVALID_PARAMETER;
    if (dcb.Parity > SPACEPARITY)
        return ERROR_INVALID_PARAMETER;
    if (dcb.StopBits != ONESTOPBIT && dcb.StopBits != TWOSTOPBITS)
        return ERROR_INVALID_PARAMETER;
    if (dcb.fRtsControl > RTS_CONTROL_HANDSHAKE)
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;  // the speed is the device's to take or refuse
}

}  // namespace

CommOpenFailure GetLastCommOpenFailure()
{
    return t_openFailure;
}

std::string GetCommDeviceName(HANDLE h)
{
    HandleUse use(h);
    return use.get() == nullptr ? std::string() : use.get()->m_device;
}

DWORD GetLastError()
{
    return t_lastError;
}

void SetLastError(DWORD error)
{
    t_lastError = error;
}

void SetCommPortOpener(CommPortOpener opener)
{
    g_opener.store(opener);
}

HANDLE CreateCommFileA(const char* path)
{
    std::string canonical;
    unsigned number = 0;
    if (!ParseComName(path, canonical, number)) {
        t_openFailure = CommOpenFailure{{}, "not a COM port name"};
        Fail(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    DWORD error = ERROR_SUCCESS;
    bool claimed = false;
    std::string device;
    std::string reason;
    std::unique_ptr<CommPort> port;
    if (const CommPortOpener opener = g_opener.load())
        port = opener(canonical, claimed, error, device);
    if (!claimed) {
        device = TtyPathForPort(canonical, number);
        port = OpenTtyPort(device, error, reason);
    }
    if (!port) {
        t_openFailure = CommOpenFailure{DescribeDevice(device), reason.empty() ? ReasonOf(error) : reason};
        Fail(error);
        return INVALID_HANDLE_VALUE;
    }
    t_openFailure = CommOpenFailure{};
    port->m_device = DescribeDevice(device);

    std::lock_guard<std::mutex> lock(g_handlesMutex);
    const std::uintptr_t value = g_nextHandle++;
    g_handles.emplace(value, std::move(port));
    return reinterpret_cast<HANDLE>(value);
}

BOOL CloseHandle(HANDLE h)
{
    std::unique_ptr<CommPort> port;
    {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        const auto it = g_handles.find(reinterpret_cast<std::uintptr_t>(h));
        if (it == g_handles.end())
            return Fail(ERROR_INVALID_HANDLE);
        port = std::move(it->second);
        g_handles.erase(it);
    }
    // No new call can reach the port now; the ones inside it are woken and
    // leave promptly, and only then is the device released.
    port->Shutdown();
    {
        std::unique_lock<std::mutex> lock(port->m_mutex);
        port->m_usersGone.wait(lock, [&port] { return port->m_users == 0; });
    }
    return TRUE;
}

BOOL PurgeComm(HANDLE h, DWORD flags)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    return Result(use.get()->Purge((flags & PURGE_RXCLEAR) != 0, (flags & PURGE_TXCLEAR) != 0));
}

BOOL SetCommTimeouts(HANDLE h, const COMMTIMEOUTS* timeouts)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (timeouts == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(use.get()->m_mutex);
    use.get()->m_timeouts = *timeouts;
    return TRUE;
}

BOOL GetCommState(HANDLE h, DCB* dcb)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (dcb == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    DCB state{};
    const DWORD error = use.get()->GetState(state);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    state.DCBlength = sizeof(DCB);
    *dcb = state;
    return TRUE;
}

BOOL SetCommState(HANDLE h, const DCB* dcb)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    {
        std::lock_guard<std::mutex> lock(use.get()->m_mutex);
        use.get()->m_lineStateAsked = true;
    }
    if (dcb == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD check = CheckLineState(*dcb);
    if (check != ERROR_SUCCESS)
        return Fail(check);
    return Result(use.get()->SetState(*dcb));
}

BOOL SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (inQueue == 0 || outQueue == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(use.get()->m_mutex);
    use.get()->m_inQueueSize = inQueue;
    use.get()->m_outQueueSize = outQueue;
    return TRUE;
}

BOOL SetCommMask(HANDLE h, DWORD mask)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    {
        std::lock_guard<std::mutex> lock(use.get()->m_mutex);
        use.get()->m_eventMask = mask;
    }
    use.get()->Wake();
    return TRUE;
}

BOOL WaitCommEvent(HANDLE h, DWORD* mask)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    DWORD eventMask = 0;
    {
        std::lock_guard<std::mutex> lock(use.get()->m_mutex);
        eventMask = use.get()->m_eventMask;
    }
    bool input = false;
    const DWORD error = use.get()->WaitEvent((eventMask & EV_RXCHAR) != 0, input);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    if (mask != nullptr)
        *mask = input ? EV_RXCHAR : 0;
    return TRUE;
}

BOOL ClearCommError(HANDLE h, DWORD* errors, COMSTAT* status)
{
    if (errors != nullptr)
        *errors = 0;
    if (status != nullptr)
        *status = COMSTAT{};
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    DWORD in = 0;
    DWORD out = 0;
    const DWORD error = use.get()->Queues(in, out);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    if (status != nullptr) {
        status->cbInQue = in;
        status->cbOutQue = out;
    }
    return TRUE;
}

BOOL GetCommOutputQueue(HANDLE h, DWORD* bytes)
{
    if (bytes != nullptr)
        *bytes = 0;
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    DWORD out = 0;
    const DWORD error = use.get()->OutputQueue(out);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    if (bytes != nullptr)
        *bytes = out;
    return TRUE;
}

BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read)
{
    if (read != nullptr)
        *read = 0;
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr && count != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD got = 0;
    const DWORD error = count == 0 ? ERROR_SUCCESS : use.get()->Read(static_cast<BYTE*>(buffer), count, got);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    if (read != nullptr)
        *read = got;
    return TRUE;
}

BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* written)
{
    if (written != nullptr)
        *written = 0;
    HandleUse use(h);
    CommPort* port = use.get();
    if (port == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr && count != 0)
        return Fail(ERROR_INVALID_PARAMETER);

    COMMTIMEOUTS timeouts{};
    {
        std::lock_guard<std::mutex> lock(port->m_mutex);
        timeouts = port->m_timeouts;
    }
    const long long limitMs = static_cast<long long>(timeouts.WriteTotalTimeoutMultiplier) * count +
                              timeouts.WriteTotalTimeoutConstant;
    const bool limited = limitMs > 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);

    const BYTE* data = static_cast<const BYTE*>(buffer);
    DWORD done = 0;
    int fruitlessWaits = 0;
    while (done < count) {
        DWORD accepted = 0;
        DWORD error = port->WriteSome(data + done, count - done, accepted);
        if (error != ERROR_SUCCESS) {
            if (written != nullptr)
                *written = done;
            return Fail(error);
        }
        done += accepted;
        if (done == count)
            break;

        long waitMs = -1;
        if (limited) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                if (written != nullptr)
                    *written = done;
                return Fail(ERROR_TIMEOUT);
            }
            waitMs = static_cast<long>(left);
        }
        // A device that reports room again and again and then takes nothing
        // would make this loop spin; after two such rounds it sleeps instead.
        fruitlessWaits = accepted == 0 ? fruitlessWaits + 1 : 0;
        if (fruitlessWaits > 2)
            error = port->WaitOutputRoom(waitMs < 0 ? 5 : static_cast<DWORD>(std::min<long>(waitMs, 5)));
        else
            error = port->WaitWritable(waitMs);
        if (error != ERROR_SUCCESS) {
            if (written != nullptr)
                *written = done;
            return Fail(error);
        }
    }
    if (written != nullptr)
        *written = done;
    return TRUE;
}

BOOL WriteFileNow(HANDLE h, const void* buffer, DWORD count, DWORD* written)
{
    if (written != nullptr)
        *written = 0;
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (buffer == nullptr && count != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    const BYTE* data = static_cast<const BYTE*>(buffer);
    DWORD done = 0;
    // A device may take a large write in parts; it is asked again until it
    // takes nothing more.
    while (done < count) {
        DWORD accepted = 0;
        const DWORD error = use.get()->WriteSome(data + done, count - done, accepted);
        if (error != ERROR_SUCCESS)
            return Fail(error);
        if (accepted == 0)
            break;
        done += accepted;
    }
    if (written != nullptr)
        *written = done;
    return TRUE;
}

BOOL WaitCommOutputRoom(HANDLE h, DWORD timeoutMs)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    return Result(use.get()->WaitOutputRoom(timeoutMs));
}

BOOL EscapeCommFunction(HANDLE h, DWORD function)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (function != SETDTR && function != CLRDTR)
        return Fail(ERROR_INVALID_PARAMETER);
    return Result(use.get()->SetDtr(function == SETDTR));
}

BOOL GetCommModemStatus(HANDLE h, DWORD* status)
{
    HandleUse use(h);
    if (use.get() == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (status == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD bits = 0;
    const DWORD error = use.get()->ModemStatus(bits);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    *status = bits;
    return TRUE;
}
