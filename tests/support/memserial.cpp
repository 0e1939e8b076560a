// The in-memory serial device: its registry of COM names, the test's side of
// it, and the port object the port calls use when they open it (the registry
// puts itself in front of every open once a device is registered).
#include "support/memserial.h"

#include <algorithm>
#include <map>

#include "platform/comm/comm_object.h"

namespace {

std::mutex g_registryMutex;
std::map<std::string, std::shared_ptr<MemSerialDevice>> g_registry;

std::string RegistryKey(const std::string& comName)
{
    std::string key = comName;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return key;
}

}  // namespace

// The handle side of an open device. Every wait sleeps on the device's
// condition variable, which each change of the device notifies.
class MemCommPort final : public CommPort {
public:
    explicit MemCommPort(std::shared_ptr<MemSerialDevice> device) : m_device(std::move(device))
    {
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        m_device->m_port = this;
    }

    // Marks the device open for a new handle; a device that is open already
    // or has failed cannot be claimed.
    static DWORD Claim(MemSerialDevice& d)
    {
        std::lock_guard<std::mutex> lock(d.m_mutex);
        if (d.m_failed)
            return ERROR_FILE_NOT_FOUND;
        if (d.m_open)
            return ERROR_ACCESS_DENIED;
        d.m_open = true;
        d.m_wakePending = false;
        d.m_closing = false;
        d.m_changed.notify_all();
        return ERROR_SUCCESS;
    }

    ~MemCommPort() override
    {
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        m_device->m_port = nullptr;
        m_device->m_open = false;
        m_device->m_wakePending = false;
        m_device->m_closing = false;
        m_device->m_changed.notify_all();
    }

    DWORD GetState(DCB& dcb) override
    {
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        if (m_device->m_failed)
            return ERROR_GEN_FAILURE;
        dcb = m_device->m_state;
        return ERROR_SUCCESS;
    }

    DWORD SetState(const DCB& dcb) override
    {
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        if (m_device->m_failed)
            return ERROR_GEN_FAILURE;
        // A refused speed leaves the old one; the rest is applied anyway.
        const bool speedTaken =
            dcb.BaudRate != 0 && (!m_device->m_onlyStandardSpeeds || IsTermiosSpeed(dcb.BaudRate));
        const DWORD oldSpeed = m_device->m_state.BaudRate;
        m_device->m_state = dcb;
        if (!speedTaken)
            m_device->m_state.BaudRate = oldSpeed;
        m_device->m_changed.notify_all();
        return speedTaken ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }

    DWORD Purge(bool input, bool /*output*/) override
    {
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        if (m_device->m_failed)
            return ERROR_GEN_FAILURE;
        if (input)
            m_device->m_input.clear();
        // Written bytes reach the host at once, so there is no output to drop.
        m_device->m_changed.notify_all();
        return ERROR_SUCCESS;
    }

    DWORD Queues(DWORD& in, DWORD& out) override
    {
        DWORD outQueueSize = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            outQueueSize = m_outQueueSize;
        }
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        if (m_device->m_failed)
            return ERROR_GEN_FAILURE;
        in = static_cast<DWORD>(m_device->m_input.size());
        out = m_device->m_outputFull ? outQueueSize : 0;
        return ERROR_SUCCESS;
    }

    DWORD WaitEvent(bool watchInput, bool& input) override
    {
        input = false;
        MemSerialDevice& d = *m_device;
        std::unique_lock<std::mutex> lock(d.m_mutex);
        d.m_changed.wait(lock, [&] {
            return d.m_closing || d.m_failed || d.m_wakePending || (watchInput && !d.m_input.empty());
        });
        if (d.m_closing)
            return ERROR_OPERATION_ABORTED;
        if (d.m_failed)
            return ERROR_GEN_FAILURE;
        if (d.m_wakePending) {
            d.m_wakePending = false;
            return ERROR_SUCCESS;
        }
        input = true;
        return ERROR_SUCCESS;
    }

    void Wake() override
    {
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        m_device->m_wakePending = true;
        m_device->m_changed.notify_all();
    }

    void Shutdown() override
    {
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        m_device->m_closing = true;
        m_device->m_changed.notify_all();
    }

    DWORD Read(BYTE* buffer, DWORD count, DWORD& got) override
    {
        got = 0;
        MemSerialDevice& d = *m_device;
        std::lock_guard<std::mutex> lock(d.m_mutex);
        if (d.m_failed)
            return ERROR_GEN_FAILURE;
        const size_t n = std::min<size_t>(count, d.m_input.size());
        if (!d.m_failReads)
            std::copy_n(d.m_input.begin(), n, buffer);
        d.m_input.erase(0, n);
        d.m_changed.notify_all();
        if (d.m_failReads)
            return ERROR_GEN_FAILURE;
        got = static_cast<DWORD>(n);
        return ERROR_SUCCESS;
    }

    DWORD WriteSome(const BYTE* data, DWORD count, DWORD& accepted) override
    {
        accepted = 0;
        MemSerialDevice& d = *m_device;
        std::lock_guard<std::mutex> lock(d.m_mutex);
        if (d.m_failed || d.m_failWrites)
            return ERROR_GEN_FAILURE;
        if (d.m_outputFull)
            return ERROR_SUCCESS;
        d.m_written.append(reinterpret_cast<const char*>(data), count);
        d.m_writeSizes.push_back(count);
        accepted = count;
        d.m_changed.notify_all();
        return ERROR_SUCCESS;
    }

    DWORD WaitWritable(long timeoutMs) override
    {
        MemSerialDevice& d = *m_device;
        std::unique_lock<std::mutex> lock(d.m_mutex);
        auto ready = [&] { return d.m_closing || d.m_failed || !d.m_outputFull || d.m_timeOutWrite; };
        ++d.m_stalledWrites;
        d.m_changed.notify_all();
        if (timeoutMs < 0)
            d.m_changed.wait(lock, ready);
        else
            d.m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        --d.m_stalledWrites;
        if (d.m_timeOutWrite && d.m_outputFull) {
            d.m_timeOutWrite = false;
            return ERROR_TIMEOUT;
        }
        if (d.m_closing)
            return ERROR_OPERATION_ABORTED;
        if (d.m_failed)
            return ERROR_GEN_FAILURE;
        return ERROR_SUCCESS;
    }

    DWORD WaitOutputRoom(DWORD timeoutMs) override { return WaitWritable(static_cast<long>(timeoutMs)); }

    DWORD SetDtr(bool on) override
    {
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        if (m_device->m_failed)
            return ERROR_GEN_FAILURE;
        m_device->m_dtr = on;
        m_device->m_changed.notify_all();
        return ERROR_SUCCESS;
    }

    DWORD ModemStatus(DWORD& status) override
    {
        std::lock_guard<std::mutex> lock(m_device->m_mutex);
        if (m_device->m_failed)
            return ERROR_GEN_FAILURE;
        status = m_device->m_dsr ? MS_DSR_ON : 0;
        return ERROR_SUCCESS;
    }

private:
    const std::shared_ptr<MemSerialDevice> m_device;
};

namespace {

std::unique_ptr<CommPort> OpenMemSerialPort(const std::string& comName, bool& registered, DWORD& error,
                                            std::string& deviceName)
{
    const std::shared_ptr<MemSerialDevice> device = MemSerialDevice::Find(comName);
    registered = device != nullptr;
    if (!device)
        return nullptr;
    deviceName = "in-memory device " + comName;
    error = MemCommPort::Claim(*device);
    if (error != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<MemCommPort>(device);
}

}  // namespace

// --- registry ----------------------------------------------------------------

std::shared_ptr<MemSerialDevice> MemSerialDevice::Register(const std::string& comName)
{
    auto device = std::make_shared<MemSerialDevice>();
    SetCommPortOpener(OpenMemSerialPort);
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_registry[RegistryKey(comName)] = device;
    return device;
}

void MemSerialDevice::Unregister(const std::string& comName)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_registry.erase(RegistryKey(comName));
}

std::shared_ptr<MemSerialDevice> MemSerialDevice::Find(const std::string& comName)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    const auto it = g_registry.find(RegistryKey(comName));
    return it == g_registry.end() ? nullptr : it->second;
}

// --- the host's end ------------------------------------------------------------

MemSerialDevice::MemSerialDevice()
{
    m_state.DCBlength = sizeof(DCB);
    m_state.BaudRate = 9600;
    m_state.ByteSize = 8;
    m_state.Parity = NOPARITY;
    m_state.StopBits = ONESTOPBIT;
    m_state.fDtrControl = DTR_CONTROL_ENABLE;
    m_state.fRtsControl = RTS_CONTROL_ENABLE;
}

void MemSerialDevice::SetDsr(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dsr = on;
    m_changed.notify_all();
}

bool MemSerialDevice::Dtr() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dtr;
}

bool MemSerialDevice::WaitForDtr(bool on, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_dtr == on; });
}

void MemSerialDevice::FeedFromHost(std::string_view bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_input.append(bytes);
    m_changed.notify_all();
}

bool MemSerialDevice::WaitForInputTaken(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_input.empty(); });
}

std::string MemSerialDevice::TakeWritten()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string out;
    out.swap(m_written);
    return out;
}

bool MemSerialDevice::WaitForStalledWrite(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_stalledWrites > 0; });
}

void MemSerialDevice::TimeOutStalledWrite()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeOutWrite = true;
    m_changed.notify_all();
}

bool MemSerialDevice::WaitForWritten(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_written.size() >= count; });
}

std::vector<size_t> MemSerialDevice::TakeWriteSizes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<size_t> out;
    out.swap(m_writeSizes);
    return out;
}

void MemSerialDevice::SetOutputQueueFull(bool full)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputFull = full;
    m_changed.notify_all();
}

void MemSerialDevice::FailReads(bool fail)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failReads = fail;
    m_changed.notify_all();
}

void MemSerialDevice::FailWrites(bool fail)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failWrites = fail;
    m_changed.notify_all();
}

void MemSerialDevice::TakeOnlyStandardSpeeds(bool only)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onlyStandardSpeeds = only;
}

void MemSerialDevice::Fail()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failed = true;
    m_changed.notify_all();
}

bool MemSerialDevice::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

bool MemSerialDevice::WaitUntilClosed(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return !m_open; });
}

COMMTIMEOUTS MemSerialDevice::Timeouts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_port == nullptr)
        return COMMTIMEOUTS{};
    std::lock_guard<std::mutex> portLock(m_port->m_mutex);
    return m_port->m_timeouts;
}

DCB MemSerialDevice::LineState() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}
