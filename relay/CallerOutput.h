// Bytes on their way to callers. What a caller's socket does not take at once
// waits in a bounded queue per socket and goes out, in order, when the socket
// can take bytes again; a half-close waits until the queue is empty.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>

#include "platform/base/wintypes.h"

class CallerOutput {
public:
    // The most bytes that wait for one caller; past it the newest are dropped.
    static constexpr size_t kQueueLimit = 1 << 20;

    // What the queues need of the sockets they feed.
    struct Socket {
        // Sends what the socket takes now: the count of bytes taken (0 when
        // it takes none now), or kGone when the connection has failed.
        std::function<long(SOCKET s, const char* data, size_t len)> send;
        // Half-closes the socket.
        std::function<void(SOCKET s)> shutdown;
        // Asks for writability notifications (true) or stops asking (false).
        std::function<void(SOCKET s, bool watch)> watchWritable;
        // Told how many bytes were dropped for a caller; may be empty.
        std::function<void(SOCKET s, size_t count)> dropped;
    };
    static constexpr long kGone = -1;

    explicit CallerOutput(Socket socket);

    // Sends the bytes, or queues what the socket does not take now.
    void Send(SOCKET s, const void* data, size_t len);
    // Half-closes the socket once every queued byte has gone out; bytes sent
    // after this are dropped.
    void Shutdown(SOCKET s);
    // The socket can take bytes again: sends what waits.
    void OnWritable(SOCKET s);
    // The socket is being closed: its queue goes with it.
    void Forget(SOCKET s);

    size_t QueuedBytes(SOCKET s) const;

private:
    struct Queue {
        std::string bytes;
        size_t head = 0;  // bytes before head have been sent
        bool shutdownDue = false;
        size_t Size() const { return bytes.size() - head; }
    };
    void Flush(SOCKET s, Queue& q);

    std::map<SOCKET, Queue> m_queues;  // only sockets with bytes or a half-close waiting
    Socket m_socket;
};
