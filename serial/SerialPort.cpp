// CSerialPort: opening and closing a COM port, the reader thread and its
// ring of slots, writing, and DTR.
#include "serial/SerialPort.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <system_error>

#include "serial/DebugLog.h"

namespace {

// Each opening's generation, told apart from every other opening's (of this
// object or another) in the messages its port posts; 0 is never handed out.
std::atomic<DWORD> g_lastGeneration{0};

DWORD NextGeneration()
{
    for (;;) {
        const DWORD generation = ++g_lastGeneration;
        if (generation != 0)
            return generation;
    }
}

std::atomic<bool> g_failReaderStart{false};

// The write time-outs: a write of n bytes ends after at most
// n * kWriteMsPerByte + kWriteMsConstant ms.
constexpr DWORD kWriteMsPerByte = 10;
constexpr DWORD kWriteMsConstant = 100;

constexpr int kGenerationShift = 8;

}  // namespace

CSerialPort::CSerialPort() : m_hComm(INVALID_HANDLE_VALUE)
{
}

CSerialPort::~CSerialPort()
{
    Close();
}

bool CSerialPort::Open(const std::string& name, DWORD baud, BYTE byteSize, int stopBits, int parity,
                       HWND hWnd, UINT msg, int index)
{
    if (m_hComm != INVALID_HANDLE_VALUE) {
        Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    m_hNotifyWnd = hWnd;
    m_nNotifyMsg = msg;
    m_nPortIndex = index;
    StartOpening();

    const std::string path = "\\\\.\\" + name;
    const HANDLE h = CreateCommFileA(path.c_str());
    if (h == INVALID_HANDLE_VALUE)
        return false;
    m_hComm = h;

    // The results of the set-up calls are not looked at: a port that takes a
    // setting badly still carries bytes, and the line shows what it got.
    PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;  // a read returns at once with what is queued
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
    timeouts.WriteTotalTimeoutConstant = kWriteMsConstant;
    SetCommTimeouts(h, &timeouts);

    DCB dcb{};
    GetCommState(h, &dcb);
    dcb.BaudRate = baud;
    dcb.ByteSize = byteSize;
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.StopBits = stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fParity = parity != 0 ? 1 : 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.DCBlength = DCB_LENGTH;
    SetCommState(h, &dcb);

    SetupComm(h, COM_SLOT_SIZE, COM_SLOT_SIZE);

    m_bDeviceGone = false;
    m_bThreadRun = true;
    {
        std::lock_guard<std::mutex> lock(m_ringMutex);
        m_bReaderEnded = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        m_bWriterRun = true;
        m_nRoomMsg = 0;
    }
    try {
        if (g_failReaderStart)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        m_pReadThread = std::make_unique<std::thread>([this] {
            ReadThreadProc(this);
            std::lock_guard<std::mutex> lock(m_ringMutex);
            m_bReaderEnded = true;
            m_ringChanged.notify_all();
        });
        m_pWriteThread = std::make_unique<std::thread>([this, h] { WriterLoop(h); });
    } catch (const std::system_error&) {
        // Without its reader the port would never deliver a byte, without
        // its writer never take one: it is closed again and the open counts
        // as failed.
        {
            std::lock_guard<std::mutex> lock(m_ringMutex);
            m_bReaderEnded = m_pReadThread == nullptr;
        }
        Close();
        return false;
    }
    return true;
}

// A new generation and an empty ring: messages an earlier opening left
// queued are not taken, and none of them can name a slot of this one. Runs
// while no reader or writer thread exists.
void CSerialPort::StartOpening()
{
    m_nGeneration = NextGeneration();
    m_nReadSlot = 0;
    std::lock_guard<std::mutex> lock(m_ringMutex);
    m_nSlotsFilled = 0;
    m_nSlotsTaken = 0;
}

unsigned CSerialPort::ReadThreadProc(void* param)
{
    CSerialPort* self = static_cast<CSerialPort*>(param);
    SetCommMask(self->m_hComm, EV_RXCHAR);

    while (self->m_bThreadRun) {
        const HANDLE h = self->m_hComm;
        if (h == INVALID_HANDLE_VALUE)
            break;
        DWORD mask = 0;
        if (!WaitCommEvent(h, &mask)) {
            // The device has gone (hung up, unplugged, failed), or the port
            // was closed under the reader.
            if (GetLastError() != ERROR_OPERATION_ABORTED)
                self->OnDeviceGone();
            break;
        }
        if ((mask & EV_RXCHAR) == 0)
            continue;  // woken to look at the run flag
        // Slot after slot, until a read comes back short: then everything
        // queued has been taken, and bytes beyond one slot never wait for the
        // next character. No queue query is needed on the way.
        while (self->m_bThreadRun && self->WaitForFreeSlot()) {
            const int slot = self->m_nReadSlot;
            DWORD got = 0;
            const bool readOk = ReadFile(h, self->m_ReadBuf[slot], COM_SLOT_SIZE, &got) != FALSE;
            if (readOk && got == 0)
                break;  // nothing was queued after all: back to the wait
            self->PostSlot(slot, readOk ? got : 0);
            if (!readOk || got < COM_SLOT_SIZE)
                break;  // a failed read goes back to the wait, which sees a gone device
        }
    }
    return 0;
}

// Hands a filled slot to the window: its message, or the slot back to the
// reader when the message cannot be posted.
void CSerialPort::PostSlot(int slot, DWORD count)
{
    m_dwReadLen[slot] = count;
    ++m_nSlotsFilled;
    const LPARAM lParam =
        static_cast<LPARAM>(slot) | (static_cast<LPARAM>(m_nGeneration) << kGenerationShift);
    if (!PostMessageA(m_hNotifyWnd, m_nNotifyMsg, static_cast<WPARAM>(m_nPortIndex), lParam))
        ReleaseSlot();  // nobody will take it
    m_nReadSlot = (slot + 1) % COM_SLOT_COUNT;
}

// The reader found the device gone: the flag for the owner, and the message
// that tells the window at once.
void CSerialPort::OnDeviceGone()
{
    m_bDeviceGone = true;
    if (m_nGoneMsg != 0)
        PostMessageA(m_hNotifyWnd, m_nGoneMsg, static_cast<WPARAM>(m_nPortIndex),
                     static_cast<LPARAM>(m_nGeneration));
}

bool CSerialPort::WaitForFreeSlot()
{
    std::unique_lock<std::mutex> lock(m_ringMutex);
    // The slot about to be filled was last filled COM_SLOT_COUNT reads ago;
    // it is free once that read's message has been taken.
    m_ringChanged.wait(lock, [this] {
        return !m_bThreadRun || m_nSlotsFilled - m_nSlotsTaken < static_cast<std::uint64_t>(COM_SLOT_COUNT);
    });
    return m_bThreadRun;
}

void CSerialPort::ReleaseSlot()
{
    std::lock_guard<std::mutex> lock(m_ringMutex);
    ++m_nSlotsTaken;
    m_ringChanged.notify_all();
}

DWORD CSerialPort::TakeSlot(int slot, BYTE* dest)
{
    if (slot < 0 || slot >= COM_SLOT_COUNT)
        return 0;
    const DWORD count = std::min<DWORD>(m_dwReadLen[slot], COM_SLOT_SIZE);
    if (dest != nullptr && count > 0)
        std::memcpy(dest, m_ReadBuf[slot], count);
    ReleaseSlot();
    return count;
}

int CSerialPort::SlotOfMessage(LPARAM lParam)
{
    return static_cast<int>(lParam & (COM_SLOT_COUNT - 1));
}

DWORD CSerialPort::GenerationOfMessage(LPARAM lParam)
{
    return static_cast<DWORD>(static_cast<std::uintptr_t>(lParam) >> kGenerationShift);
}

bool CSerialPort::WaitForReaderEnd(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_ringMutex);
    return m_ringChanged.wait_for(lock, timeout, [this] { return m_bReaderEnded; });
}

void CSerialPort::Write(const void* data, int count)
{
    if (m_bDebugLog)
        WriteDebugLog("S" + std::to_string(m_nPortIndex), data, count);
    if (count > 0)
        QueueOutput(static_cast<const BYTE*>(data), static_cast<size_t>(count));
}

void CSerialPort::WriteOwnText(const void* data, int count)
{
    if (m_bDebugLog)
        WriteDebugLog("S" + std::to_string(m_nPortIndex), data, count);
    if (count <= 0)
        return;
    const size_t size = static_cast<size_t>(count);
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        // A host that keeps asking for answers it never reads must not make
        // the queue grow without end.
        const size_t waiting = OutputWaiting();
        if (waiting > 0 && waiting + size > COM_OUTPUT_CEILING) {
            TraceDrop(size, m_bDebugLog);
            return;
        }
    }
    QueueOutput(static_cast<const BYTE*>(data), size);
}

void CSerialPort::QueueOutput(const BYTE* bytes, size_t count)
{
    const HANDLE h = m_hComm;
    if (h == INVALID_HANDLE_VALUE)
        return;
    std::lock_guard<std::mutex> lock(m_outMutex);
    m_bTraceOutput = m_bDebugLog;
    // With nothing waiting before them, the bytes go straight to the device
    // as far as it takes them now; only the rest waits for the writer.
    while (count > 0 && OutputWaiting() == 0 && m_dtrChanges.empty()) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(count, COM_SLOT_SIZE));
        DWORD taken = 0;
        if (!WriteFileNow(h, bytes, piece, &taken))
            return;  // a failed device loses the bytes
        bytes += taken;
        count -= taken;
        if (taken < piece)
            break;
    }
    if (count == 0)
        return;
    if (m_outHead > 0 && m_outHead >= OutputWaiting()) {
        m_outBytes.erase(0, m_outHead);
        m_outHead = 0;
    }
    m_outBytes.append(reinterpret_cast<const char*>(bytes), count);
    m_outChanged.notify_all();
}

void CSerialPort::SetDTR(bool on)
{
    const HANDLE h = m_hComm;
    if (h == INVALID_HANDLE_VALUE)
        return;
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        if (OutputWaiting() == 0 && m_dtrChanges.empty()) {
            EscapeCommFunction(h, on ? SETDTR : CLRDTR);
        } else {
            m_dtrChanges.push_back({m_nOutTaken + OutputWaiting(), on});
            m_outChanged.notify_all();
        }
    }
    m_bDtrDroppedForClose = false;
    if (m_bDebugLog)
        WriteDebugLog("DTR", on ? "ON" : "OFF", on ? 2 : 3);
}

void CSerialPort::DropDtrForClose()
{
    if (m_hComm == INVALID_HANDLE_VALUE)
        return;
    DiscardOutput();
    SetDTR(false);  // at once: nothing waits before it any more
    m_bDtrDroppedForClose = true;
}

void CSerialPort::DiscardOutput()
{
    std::lock_guard<std::mutex> lock(m_outMutex);
    m_nOutTaken += OutputWaiting();
    m_outBytes.clear();
    m_outHead = 0;
    m_dtrChanges.clear();
    ++m_nOutDiscards;
}

bool CSerialPort::OutputFull(UINT roomMsg)
{
    std::lock_guard<std::mutex> lock(m_outMutex);
    if (OutputWaiting() < COM_OUTPUT_BOUND)
        return false;
    m_nRoomMsg = roomMsg;
    return true;
}

size_t CSerialPort::OutputQueued()
{
    std::lock_guard<std::mutex> lock(m_outMutex);
    return OutputWaiting();
}

bool CSerialPort::HangUpWaiting()
{
    std::lock_guard<std::mutex> lock(m_outMutex);
    return DtrDropWaits();
}

bool CSerialPort::DtrDropWaits() const
{
    return std::any_of(m_dtrChanges.begin(), m_dtrChanges.end(), [](const DtrChange& c) { return !c.on; });
}

bool CSerialPort::DsrOn() const
{
    const HANDLE h = m_hComm;
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD status = 0;
    if (!GetCommModemStatus(h, &status))
        return GetLastError() == ERROR_NOT_SUPPORTED;
    return (status & MS_DSR_ON) != 0;
}

std::string CSerialPort::DeviceName() const
{
    return GetCommDeviceName(m_hComm);
}

// The writer: takes the queued bytes to the device piece by piece, and makes
// each DTR change once the bytes before it have gone.
void CSerialPort::WriterLoop(HANDLE h)
{
    BYTE piece[COM_SLOT_SIZE];
    std::unique_lock<std::mutex> lock(m_outMutex);
    for (;;) {
        m_outChanged.wait(lock,
                          [this] { return !m_bWriterRun || OutputWaiting() > 0 || !m_dtrChanges.empty(); });
        if (!m_bWriterRun)
            return;
        ApplyDueDtrChanges(h);
        const size_t count = NextPieceSize();
        if (count == 0)
            continue;
        std::memcpy(piece, m_outBytes.data() + m_outHead, count);
        const std::uint64_t discards = m_nOutDiscards;
        lock.unlock();
        DWORD written = 0;
        const bool ok = WriteFile(h, piece, static_cast<DWORD>(count), &written) != FALSE;
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        lock.lock();
        if (!m_bWriterRun)
            return;
        if (discards != m_nOutDiscards)
            continue;  // what was written had been thrown away meanwhile
        TakeOutput(written);
        if (!ok && error != ERROR_TIMEOUT)
            DropOutput(OutputWaiting());  // the device failed: nothing queued can reach it
        else if (!ok && DtrDropWaits())
            DropBeforeLastDtrDrop();  // the call has ended, also if it ended during this write
        PostRoomIfDrained();
    }
}

// The next piece for the device: at most a slot's worth, and none of the
// bytes after the next DTR change.
size_t CSerialPort::NextPieceSize() const
{
    size_t count = std::min<size_t>(OutputWaiting(), COM_SLOT_SIZE);
    if (!m_dtrChanges.empty())
        count = std::min<size_t>(count, static_cast<size_t>(m_dtrChanges.front().at - m_nOutTaken));
    return count;
}

void CSerialPort::ApplyDueDtrChanges(HANDLE h)
{
    while (!m_dtrChanges.empty() && m_dtrChanges.front().at <= m_nOutTaken) {
        EscapeCommFunction(h, m_dtrChanges.front().on ? SETDTR : CLRDTR);
        m_dtrChanges.pop_front();
    }
}

void CSerialPort::TakeOutput(size_t count)
{
    count = std::min(count, OutputWaiting());
    m_outHead += count;
    m_nOutTaken += count;
    if (m_outHead == m_outBytes.size()) {
        m_outBytes.clear();
        m_outHead = 0;
    }
}

void CSerialPort::DropOutput(size_t count)
{
    if (count == 0)
        return;
    TakeOutput(count);
    TraceDrop(count, m_bTraceOutput);
}

void CSerialPort::TraceDrop(size_t count, BOOL trace) const
{
    if (!trace)
        return;
    const std::string text = std::to_string(m_nPortIndex) + "," + std::to_string(count);
    WriteDebugLog("Sdrop", text.data(), static_cast<int>(text.size()));
}

// The call has ended and the device did not take a piece in its time: the
// bytes before the last DTR drop are given up, and the DTR raises among them are skipped, so
// that DTR drops next.
void CSerialPort::DropBeforeLastDtrDrop()
{
    const auto last =
        std::find_if(m_dtrChanges.rbegin(), m_dtrChanges.rend(), [](const DtrChange& c) { return !c.on; });
    if (last == m_dtrChanges.rend())
        return;
    const std::uint64_t at = last->at;
    m_dtrChanges.erase(m_dtrChanges.begin(), std::prev(last.base()));
    DropOutput(static_cast<size_t>(at - m_nOutTaken));
}

void CSerialPort::PostRoomIfDrained()
{
    if (m_nRoomMsg == 0 || OutputWaiting() >= COM_OUTPUT_BOUND)
        return;
    PostMessageA(m_hNotifyWnd, m_nRoomMsg, static_cast<WPARAM>(m_nPortIndex),
                 static_cast<LPARAM>(m_nGeneration));
    m_nRoomMsg = 0;
}

void CSerialPort::Close()
{
    const HANDLE h = m_hComm;
    if (h != INVALID_HANDLE_VALUE) {
        {
            std::lock_guard<std::mutex> lock(m_outMutex);
            m_bWriterRun = false;
            m_outChanged.notify_all();
        }
        DiscardOutput();
        if (!m_bDtrDroppedForClose)
            SetDTR(false);  // at once: nothing waits before it any more
        m_bDtrDroppedForClose = false;
        m_bThreadRun = false;
        {
            // Wakes a reader that waits for the consumer to take a slot.
            std::lock_guard<std::mutex> lock(m_ringMutex);
            m_ringChanged.notify_all();
        }
        SetCommMask(h, EV_RXCHAR);  // wakes a reader in WaitCommEvent, now or at its next wait
        PurgeComm(h, PURGE_RXCLEAR);
    }
    // The reader is woken and ends within moments; the port is closed only
    // once it can no longer touch it.
    if (m_pReadThread) {
        m_pReadThread->join();
        m_pReadThread.reset();
    }
    // Closing the handle ends a write the writer still waits in.
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (m_pWriteThread) {
        m_pWriteThread->join();
        m_pWriteThread.reset();
    }
    m_hComm = INVALID_HANDLE_VALUE;
}

void CSerialPort::FailReaderStartForTesting(bool fail)
{
    g_failReaderStart = fail;
}
