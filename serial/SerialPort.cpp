// CSerialPort: opening and closing a COM port, the reader thread and its
// ring of slots, writing, and DTR.
#include "serial/SerialPort.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "serial/DebugLog.h"

namespace {

// Each object's generation, told apart from every other object's in the data
// messages it posts; 0 is never handed out.
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

CSerialPort::CSerialPort() : m_hComm(INVALID_HANDLE_VALUE), m_nGeneration(NextGeneration())
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
    try {
        if (g_failReaderStart)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        m_pReadThread = std::make_unique<std::thread>([this] {
            ReadThreadProc(this);
            std::lock_guard<std::mutex> lock(m_ringMutex);
            m_bReaderEnded = true;
            m_ringChanged.notify_all();
        });
    } catch (const std::system_error&) {
        // Without its reader the port would never deliver a byte: it is
        // closed again and the open counts as failed.
        {
            std::lock_guard<std::mutex> lock(m_ringMutex);
            m_bReaderEnded = true;
        }
        Close();
        return false;
    }
    return true;
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

    const HANDLE h = m_hComm;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    int left = std::max(count, 0);
    do {
        const int piece = std::min(left, COM_SLOT_SIZE);
        if (!WaitForRoom(h, piece))
            return;
        DWORD written = 0;
        if (!WriteFile(h, bytes, static_cast<DWORD>(piece), &written))
            return;  // timed out or failed: these bytes and the rest are lost
        bytes += piece;
        left -= piece;
    } while (left > 0);
}

// Waits until the output queue has room for `count` more bytes, looking at
// least once, for at most the write time-out of `count` bytes. False when the
// time passes or the queue cannot be looked at (the device has gone).
bool CSerialPort::WaitForRoom(HANDLE h, int count)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() +
        std::chrono::milliseconds(static_cast<long long>(count) * kWriteMsPerByte + kWriteMsConstant);
    for (;;) {
        DWORD queued = 0;
        if (!GetCommOutputQueue(h, &queued))
            return false;
        if (COM_SLOT_SIZE - static_cast<long long>(queued) >= count)
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        if (!WaitCommOutputRoom(h, static_cast<DWORD>(left)))
            return false;
    }
}

void CSerialPort::SetDTR(bool on)
{
    const HANDLE h = m_hComm;
    if (h == INVALID_HANDLE_VALUE)
        return;
    EscapeCommFunction(h, on ? SETDTR : CLRDTR);
    if (m_bDebugLog)
        WriteDebugLog("DTR", on ? "ON" : "OFF", on ? 2 : 3);
}

void CSerialPort::Close()
{
    const HANDLE h = m_hComm;
    if (h != INVALID_HANDLE_VALUE) {
        SetDTR(false);
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
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        m_hComm = INVALID_HANDLE_VALUE;
    }
}

void CSerialPort::FailReaderStartForTesting(bool fail)
{
    g_failReaderStart = fail;
}
