// One open COM port, the line towards one BBS host program: opening it with a
// port record's line parameters, a reader thread that pulls received bytes
// into a ring of 256 slots and announces each filled slot to the main window,
// writing, raising and dropping DTR, and finding the COM ports there are.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/comm/comm.h"
#include "platform/base/message.h"

// The receive ring: this many slots of this many bytes. A write hands the
// port at most COM_SLOT_SIZE bytes at a time, the size of its output queue.
constexpr int COM_SLOT_COUNT = 256;
constexpr int COM_SLOT_SIZE = 2048;

// The bytes a port's output queue may hold before its caller is held back.
constexpr size_t COM_OUTPUT_BOUND = 64 * 1024;
// The most a port's output queue holds for the relay's own texts: a text that
// does not fit below it is dropped. Only a caller's bytes, which the bound
// above already holds back, may take the queue past it.
constexpr size_t COM_OUTPUT_CEILING = 4 * COM_OUTPUT_BOUND;

// The data message a port posts after each read: wParam is the row given to
// Open, lParam the slot and the opening's generation (SlotOfMessage,
// GenerationOfMessage). Its handler takes the slot's bytes with TakeSlot.
//
// Threads: everything here is called on the UI thread, except ReadThreadProc,
// the body of the port's reader thread, and the port's writer thread. The
// reader shares m_hComm, m_bThreadRun, m_nReadSlot and the ring with the UI
// thread; a slot changes hands through its data message. The writer takes
// what the UI thread queues for the device, under m_outMutex, so that the UI
// thread never waits for the device.
class CSerialPort {
public:
    CSerialPort();
    // Closes the port first.
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Opens the port `name` (such as "COM3") exclusively with the given line
    // parameters (stopBits 2 means two stop bits, anything else one; parity 0
    // none, 1 odd, 2 even) and starts the reader, which posts `msg` with
    // wParam `index` to hWnd after each read. An open object is closed first,
    // with a pause of 100 ms. Each opening takes a generation of its own
    // (Generation) and starts at slot 0. False when the port cannot be opened
    // or its reader cannot be started: the object is then closed, without a
    // thread.
    [[nodiscard]] bool Open(const std::string& name, DWORD baud, BYTE byteSize, int stopBits, int parity,
                            HWND hWnd, UINT msg, int index);

    // Throws away what still waits for the device, drops DTR at once (unless
    // DropDtrForClose did so), stops the reader and the writer and waits until
    // they have ended, then closes the port. Does nothing on a closed object.
    void Close();

    // Hands `count` bytes from a caller to the port (traced first when the
    // trace is on) and returns at once. The device gets them in order, in
    // pieces of at most COM_SLOT_SIZE, as fast as it takes them; until then
    // they wait in the output queue, whatever its size (OutputFull holds the
    // caller back). They are lost only when the device fails (everything
    // queued goes), or when a DTR drop waits behind them and a write of them
    // times out (10 ms per byte plus 100 ms): then every byte before that
    // drop goes, traced as "Sdrop" with the row and count.
    void Write(const void* data, int count);
    // The same for a text of the relay's own (RING, CONNECT, OK, the AFTER
    // text), except that a text that would take a non-empty queue past
    // COM_OUTPUT_CEILING is dropped whole, traced as "Sdrop".
    void WriteOwnText(const void* data, int count);

    // Raises or drops DTR once the bytes handed over before it have gone to
    // the device (at once when none wait), and traces it (tag "DTR", data
    // "ON" or "OFF") when the trace is on. Does nothing at all on a closed
    // object.
    void SetDTR(bool on);
    // Throws away the bytes and DTR changes that still wait and drops DTR at
    // once, traced once: the Close that follows does not drop it again.
    void DropDtrForClose();

    // True while COM_OUTPUT_BOUND bytes or more wait for the device. The
    // writer then posts `roomMsg` to the window once (wParam the row, lParam
    // the generation) when fewer wait again.
    bool OutputFull(UINT roomMsg);
    // The bytes waiting for the device.
    size_t OutputQueued();
    // True while a DTR drop waits behind bytes: the host has not yet been
    // told that a call ended.
    bool HangUpWaiting();

    // DSR of the line: false on a closed object; true on a device without
    // modem lines (a pseudo-terminal), whose calls a signal it cannot carry
    // must not cut.
    bool DsrOn() const;
    // The device the port's name resolved to, for reports; empty when closed.
    std::string DeviceName() const;

    // The reader thread's body; `param` is the port object. Returns 0.
    static unsigned ReadThreadProc(void* param);

    // For the data message's handler: copies the bytes of `slot` (0 to 255)
    // into `dest` (room for COM_SLOT_SIZE bytes), frees the slot for the
    // reader and returns the byte count. Every data message of the current
    // opening must be taken exactly once, in the order the messages come (one
    // of an earlier opening, whose generation differs, is dropped): the reader
    // never fills a slot whose last message has not been taken, and waits
    // instead (a data message that could not be posted frees its slot by
    // itself).
    DWORD TakeSlot(int slot, BYTE* dest);

    // The parts of a data message's lParam.
    static int SlotOfMessage(LPARAM lParam);
    static DWORD GenerationOfMessage(LPARAM lParam);

    // Waits until the reader thread has ended (true), or the time passes
    // (false). True at once when no reader was started.
    bool WaitForReaderEnd(std::chrono::milliseconds timeout);

    // The names COM1 to COM50, in ascending order, of the ports that can be
    // opened now: the ports held open by anyone, this program included, and
    // the missing ones are left out. `ports` is emptied first.
    static void EnumComPorts(std::vector<std::string>& ports);
    // True when the port `name` can be opened now; it is closed again at once
    // and nothing is set on it.
    static bool IsComPortPresent(const std::string& name);

    // True once the reader has ended because the device went away (a hang-up
    // or an I/O error: an adapter pulled, a pty's far end closed); the port
    // then carries no more bytes from the host.
    bool DeviceGone() const { return m_bDeviceGone; }
    // The message the reader then posts to the data messages' window, once
    // and after its last data message: wParam the row, lParam the opening's
    // generation. 0, the default, posts none; set before Open.
    void SetGoneMessage(UINT msg) { m_nGoneMsg = msg; }

    // Whether Write and SetDTR trace; set by the owner after Open.
    void SetDebugLog(BOOL on) { m_bDebugLog = on; }
    BOOL DebugLog() const { return m_bDebugLog; }

    bool IsOpen() const { return m_hComm != INVALID_HANDLE_VALUE; }
    bool HasReader() const { return m_pReadThread != nullptr; }
    // The row given to Open: wParam of the messages, "S%d" of the trace.
    int PortIndex() const { return m_nPortIndex; }
    // The current opening's, nonzero once opened: carried in every message.
    DWORD Generation() const { return m_nGeneration; }

    // Makes every later Open find that its reader thread cannot be started.
    static void FailReaderStartForTesting(bool fail);

private:
    BOOL m_bDebugLog = FALSE;                    // trace Write and SetDTR
    std::atomic<HANDLE> m_hComm;                 // the open port; INVALID_HANDLE_VALUE while closed
    HWND m_hNotifyWnd = nullptr;                 // receives the data messages
    UINT m_nNotifyMsg = 0;                       // the data message's number
    UINT m_nGoneMsg = 0;                         // posted when the device goes away; 0: none
    std::unique_ptr<std::thread> m_pReadThread;  // the reader; null while there is none
    std::atomic<int> m_nReadSlot{0};             // the slot the next read fills; advanced by the reader only
    DWORD m_dwReadLen[COM_SLOT_COUNT] = {};      // each slot's byte count, 0 to COM_SLOT_SIZE
    BYTE m_ReadBuf[COM_SLOT_COUNT][COM_SLOT_SIZE];  // the receive ring
    std::atomic<bool> m_bThreadRun{false};          // the reader's loop runs while set
    int m_nPortIndex = 0;
    DWORD m_nGeneration = 0;
    bool m_bDtrDroppedForClose = false;  // Close need not drop DTR again

    void StartOpening();
    // The reader's wait until the slot it is about to fill has been taken;
    // false when the reader is to stop instead.
    bool WaitForFreeSlot();
    void OnDeviceGone();
    void PostSlot(int slot, DWORD count);
    void ReleaseSlot();

    // A DTR change waiting for the bytes queued before it.
    struct DtrChange {
        std::uint64_t at;  // due once m_nOutTaken reaches this
        bool on;
    };
    // Bytes for the device after the trace line: the writer's, unless nothing
    // waits and the device takes them at once.
    void QueueOutput(const BYTE* bytes, size_t count);
    void DiscardOutput();
    // The writer thread's body, and its steps; all but WriterLoop run with
    // m_outMutex held.
    void WriterLoop(HANDLE h);
    bool DtrDropWaits() const;
    size_t OutputWaiting() const { return m_outBytes.size() - m_outHead; }
    size_t NextPieceSize() const;
    void ApplyDueDtrChanges(HANDLE h);
    void TakeOutput(size_t count);
    void DropOutput(size_t count);
    void TraceDrop(size_t count, BOOL trace) const;
    void DropBeforeLastDtrDrop();
    void PostRoomIfDrained();

    std::mutex m_outMutex;
    std::condition_variable m_outChanged;  // bytes or a DTR change queued, the writer told to stop
    std::string m_outBytes;                // from m_outHead on: the bytes waiting, oldest first
    size_t m_outHead = 0;
    std::uint64_t m_nOutTaken = 0;       // bytes that have left the queue (written or dropped)
    std::uint64_t m_nOutDiscards = 0;    // DiscardOutput calls, so a write in flight is not taken twice
    std::deque<DtrChange> m_dtrChanges;  // in the order asked
    bool m_bWriterRun = false;
    UINT m_nRoomMsg = 0;          // to post when the queue drains below the bound; 0: none
    BOOL m_bTraceOutput = FALSE;  // m_bDebugLog as the UI thread last saw it
    std::unique_ptr<std::thread> m_pWriteThread;

    std::mutex m_ringMutex;
    std::condition_variable m_ringChanged;   // a slot taken, the reader told to stop, the reader ended
    std::atomic<bool> m_bDeviceGone{false};  // set by the reader only
    std::uint64_t m_nSlotsFilled = 0;        // by the reader only
    std::uint64_t m_nSlotsTaken = 0;         // guarded by m_ringMutex
    bool m_bReaderEnded = true;              // guarded by m_ringMutex
};
