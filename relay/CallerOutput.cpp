// Bounded per-caller send queues.
#include "relay/CallerOutput.h"

#include <algorithm>

#include "platform/winsock.h"

CallerOutput::CallerOutput(WatchWritable watch, Dropped dropped)
    : m_watch(std::move(watch)), m_dropped(std::move(dropped))
{
}

void CallerOutput::Send(SOCKET s, const void* data, size_t len)
{
    const char* bytes = static_cast<const char*>(data);
    auto it = m_queues.find(s);
    if (it == m_queues.end()) {
        // Nothing waits: try the socket first; an empty send still goes out.
        const int sent = ws::send(s, bytes, static_cast<int>(len), 0);
        const size_t taken = sent > 0 ? static_cast<size_t>(sent) : 0;
        if (taken == len)
            return;
        if (sent == SOCKET_ERROR && ws::WSAGetLastError() != ws::WSAEWOULDBLOCK)
            return;  // the connection is gone; its close notification follows
        it = m_queues.emplace(s, Queue{}).first;
        m_watch(s, true);
        bytes += taken;
        len -= taken;
    }
    Queue& q = it->second;
    // Once the call is to end, what is queued goes out and nothing more: a
    // host that keeps sending must not hold the half-close back for ever.
    const size_t room = q.shutdownDue ? 0 : kQueueLimit > q.Size() ? kQueueLimit - q.Size() : 0;
    const size_t kept = std::min(room, len);
    q.bytes.append(bytes, kept);
    if (kept < len && m_dropped)
        m_dropped(s, len - kept);
}

void CallerOutput::Shutdown(SOCKET s)
{
    const auto it = m_queues.find(s);
    if (it == m_queues.end()) {
        ws::shutdown(s, ws::SD_SEND);
        return;
    }
    it->second.shutdownDue = true;
}

void CallerOutput::OnWritable(SOCKET s)
{
    const auto it = m_queues.find(s);
    if (it != m_queues.end())
        Flush(s, it->second);
}

void CallerOutput::Flush(SOCKET s, Queue& q)
{
    while (q.Size() > 0) {
        const int sent = ws::send(s, q.bytes.data() + q.head, static_cast<int>(q.Size()), 0);
        if (sent <= 0) {
            if (sent == SOCKET_ERROR && ws::WSAGetLastError() != ws::WSAEWOULDBLOCK)
                break;  // gone: drop the queue below
            // Wait for the next writability notification; drop the sent
            // bytes from the front now and then so the buffer stays bounded.
            if (q.head >= kQueueLimit / 4) {
                q.bytes.erase(0, q.head);
                q.head = 0;
            }
            return;
        }
        q.head += static_cast<size_t>(sent);
    }
    const bool shutdownDue = q.shutdownDue;
    m_queues.erase(s);
    m_watch(s, false);
    if (shutdownDue)
        ws::shutdown(s, ws::SD_SEND);
}

void CallerOutput::Forget(SOCKET s)
{
    m_queues.erase(s);
}

size_t CallerOutput::QueuedBytes(SOCKET s) const
{
    const auto it = m_queues.find(s);
    return it == m_queues.end() ? 0 : it->second.Size();
}
