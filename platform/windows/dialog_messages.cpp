// The dialog's messages: the thread-safe queue of posted messages and its
// delivery from the event loop (or at the end of a post batch), sent
// messages, the message map's dispatch and the framework's default handling.
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <algorithm>

#include "platform/windows/dialog.h"
#include "platform/windows/paint.h"
#include "platform/windows/postbatch.h"

namespace {

// Asks a window to deliver its posted messages.
class DeliverEvent : public QEvent {
public:
    static QEvent::Type EventType()
    {
        static const int type = QEvent::registerEventType();
        return static_cast<QEvent::Type>(type);
    }
    DeliverEvent() : QEvent(EventType()) {}
};

// The open post batches of this thread and the windows that got messages in
// them.
thread_local int t_batchDepth = 0;
thread_local std::vector<QPointer<CDialogEx>> t_batchWindows;

}  // namespace

bool CDialogEx::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    std::unique_lock<std::mutex> lock(m_postMutex);
    m_posted.push_back({msg, wParam, lParam, ++m_postedSerial});
    if (t_batchDepth > 0) {
        // Only the UI thread opens batches: the batch's end delivers it.
        lock.unlock();
        if (std::find(t_batchWindows.begin(), t_batchWindows.end(), this) == t_batchWindows.end())
            t_batchWindows.emplace_back(this);
        return true;
    }
    RequestDelivery(lock);
    return true;
}

void CDialogEx::RequestDelivery(std::unique_lock<std::mutex>& lock)
{
    const bool request = !m_deliveryRequested;
    m_deliveryRequested = true;
    lock.unlock();
    if (request)
        QCoreApplication::postEvent(this, new DeliverEvent);
}

void CDialogEx::DeliverPosted()
{
    // One pass delivers what was queued when it began. What the reader
    // threads post meanwhile waits for the next pass, after the event loop
    // has given sockets, timers and signals their turn.
    std::unique_lock<std::mutex> lock(m_postMutex);
    const std::uint64_t last = m_postedSerial;
    lock.unlock();
    // A handler may end and destroy the window; then nothing more is delivered.
    const QPointer<CDialogEx> alive(this);
    while (alive && !m_ended) {
        lock.lock();
        if (m_posted.empty())
            return;
        if (m_posted.front().serial > last) {
            RequestDelivery(lock);
            return;
        }
        const Posted m = m_posted.front();
        m_posted.pop_front();
        // A handler may run a modal loop: the messages behind this one must
        // reach the window from there, as they would one by one.
        if (!m_posted.empty())
            RequestDelivery(lock);
        else
            lock.unlock();
        WindowProc(m.msg, m.wParam, m.lParam);
    }
}

PostBatch::PostBatch()
{
    ++t_batchDepth;
}

PostBatch::~PostBatch()
{
    if (--t_batchDepth > 0)
        return;
    std::vector<QPointer<CDialogEx>> windows;
    windows.swap(t_batchWindows);
    for (const QPointer<CDialogEx>& w : windows)
        if (w)
            w->DeliverPosted();
}

LRESULT CDialogEx::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return WindowProc(msg, wParam, lParam);
}

void CDialogEx::customEvent(QEvent* event)
{
    if (event->type() != DeliverEvent::EventType()) {
        QDialog::customEvent(event);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_deliveryRequested = false;
    }
    DeliverPosted();
}

LRESULT CDialogEx::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (Dispatch(msg, wParam, lParam, result))
        return result;
    return DefWindowProc(msg, wParam, lParam);
}

bool CDialogEx::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    for (const MapEntry& e : m_map) {
        if (e.message != msg)
            continue;
        if (msg == WM_COMMAND) {
            const UINT code = HIWORD(static_cast<LPARAM>(wParam));
            const UINT id = LOWORD(static_cast<LPARAM>(wParam));
            if (e.id != id || e.code != code)
                continue;
        } else if (msg == WM_NOTIFY) {
            const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
            if (hdr == nullptr || e.id != hdr->idFrom || e.code != static_cast<UINT>(hdr->code))
                continue;
        }
        result = e.handler(wParam, lParam);
        return true;
    }
    return false;
}

LRESULT CDialogEx::DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CLOSE: OnCancel(); return 0;
    case WM_PAINT: OnPaint(); return 0;
    case WM_ICONERASEBKGND: EraseWindowBackground(reinterpret_cast<HDC>(wParam), *this); return 1;
    // A window without help of its own asks its owner's.
    case WM_HELP: return SendMessageA(GetParent(), WM_HELP, wParam, lParam);
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            SendMessage(WM_CLOSE, 0, 0);
        return 0;
    case WM_COMMAND: {
        const UINT id = LOWORD(static_cast<LPARAM>(wParam));
        if (id == IDOK)
            OnOK();
        else if (id == IDCANCEL)
            OnCancel();
        return 0;
    }
    default: return 0;
    }
}

void CDialogEx::OnMessage(UINT msg, MessageHandler handler)
{
    m_map.push_back({msg, 0, 0, std::move(handler)});
}

void CDialogEx::OnCommand(UINT id, std::function<void()> handler)
{
    m_map.push_back({WM_COMMAND, 0, id, [h = std::move(handler)](WPARAM, LPARAM) {
                         h();
                         return LRESULT(0);
                     }});
}

void CDialogEx::OnControl(UINT code, UINT id, std::function<void()> handler)
{
    m_map.push_back({WM_COMMAND, code, id, [h = std::move(handler)](WPARAM, LPARAM) {
                         h();
                         return LRESULT(0);
                     }});
}

void CDialogEx::OnNotify(int code, UINT id, std::function<LRESULT(NMHDR*)> handler)
{
    m_map.push_back({WM_NOTIFY, static_cast<UINT>(code), id,
                     [h = std::move(handler)](WPARAM, LPARAM l) { return h(reinterpret_cast<NMHDR*>(l)); }});
}
