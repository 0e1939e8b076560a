// Bounded per-caller send queues.
#include "relay/CallerOutput.h"

#include <algorithm>

CallerOutput::CallerOutput(Socket socket) : m_socket(std::move(socket))
{
}

void CallerOutput::Send(SOCKET s, const void* data, size_t len)
{
    const char* bytes = static_cast<const char*>(data);
    auto it = m_queues.find(s);
    if (it == m_queues.end()) {
        // Nothing waits: try the socket first; an empty send still goes out.
        const long sent = m_socket.send(s, bytes, len);
        if (sent == kGone)
            return;  // the connection is gone; its close notification follows
        const size_t taken = static_cast<size_t>(sent);
        if (taken == len)
            return;
        it = m_queues.emplace(s, Queue{}).first;
        m_socket.watchWritable(s, true);
        bytes += taken;
        len -= taken;
    }
    Queue& q = it->second;
    // Once the call is to end, what is queued goes out and nothing more: a
    // host that keeps sending must not hold the half-close back for ever.
    const size_t room = q.shutdownDue ? 0 : kQueueLimit > q.Size() ? kQueueLimit - q.Size() : 0;
    const size_t kept = std::min(room, len);
    q.bytes.append(bytes, kept);
    if (kept < len && m_socket.dropped)
        m_socket.dropped(s, len - kept);
}

void CallerOutput::Shutdown(SOCKET s)
{
    const auto it = m_queues.find(s);
    if (it == m_queues.end()) {
        m_socket.shutdown(s);
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
        const long sent = m_socket.send(s, q.bytes.data() + q.head, q.Size());
        if (sent == kGone)
            break;  // gone: drop the queue below
        if (sent == 0) {
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
    m_socket.watchWritable(s, false);
    if (shutdownDue)
        m_socket.shutdown(s);
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
