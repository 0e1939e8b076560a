// The bounded caller queues on a scripted socket: order, the bound, the
// half-close that waits for the queue, and a connection that fails.
#include "relay/CallerOutput.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A socket that takes at most `room` bytes until the test frees more.
struct ScriptedSocket {
    size_t room = 0;
    bool gone = false;
    std::string sent;
    int shutdowns = 0;
    std::vector<bool> watchCalls;
    size_t dropped = 0;

    CallerOutput::Socket Ops()
    {
        CallerOutput::Socket ops;
        ops.send = [this](SOCKET, const char* data, size_t len) -> long {
            if (gone)
                return CallerOutput::kGone;
            const size_t taken = std::min(room, len);
            sent.append(data, taken);
            room -= taken;
            return static_cast<long>(taken);
        };
        ops.shutdown = [this](SOCKET) { ++shutdowns; };
        ops.watchWritable = [this](SOCKET, bool watch) { watchCalls.push_back(watch); };
        ops.dropped = [this](SOCKET, size_t count) { dropped += count; };
        return ops;
    }
};

constexpr SOCKET kSock = 7;

TEST(CallerOutput, QueuedBytesGoOutInOrderAndTheHalfCloseWaitsForThem)
{
    ScriptedSocket sock;
    sock.room = 3;
    CallerOutput out(sock.Ops());
    out.Send(kSock, "abcdef", 6);
    out.Send(kSock, "gh", 2);
    out.Shutdown(kSock);
    EXPECT_EQ(sock.sent, "abc");
    EXPECT_EQ(out.QueuedBytes(kSock), 5u);
    EXPECT_EQ(sock.shutdowns, 0) << "the half-close must wait for the queue";
    ASSERT_EQ(sock.watchCalls, std::vector<bool>{true});

    out.Send(kSock, "late", 4);  // after the half-close: dropped
    EXPECT_EQ(sock.dropped, 4u);

    sock.room = 100;
    out.OnWritable(kSock);
    EXPECT_EQ(sock.sent, "abcdefgh");
    EXPECT_EQ(out.QueuedBytes(kSock), 0u);
    EXPECT_EQ(sock.shutdowns, 1);
    EXPECT_EQ(sock.watchCalls, (std::vector<bool>{true, false}));
}

TEST(CallerOutput, TheQueueStopsAtItsLimitAndAFailedConnectionDropsIt)
{
    ScriptedSocket sock;
    CallerOutput out(sock.Ops());
    const std::string chunk(CallerOutput::kQueueLimit / 2 + 10, 'x');
    out.Send(kSock, chunk.data(), chunk.size());
    out.Send(kSock, chunk.data(), chunk.size());
    EXPECT_EQ(out.QueuedBytes(kSock), CallerOutput::kQueueLimit);
    EXPECT_EQ(sock.dropped, 2 * chunk.size() - CallerOutput::kQueueLimit);

    sock.gone = true;
    out.OnWritable(kSock);
    EXPECT_EQ(out.QueuedBytes(kSock), 0u) << "a failed connection's queue is let go";
    EXPECT_EQ(sock.shutdowns, 0);

    // With nothing queued, a half-close goes out at once.
    CallerOutput idle(sock.Ops());
    idle.Shutdown(kSock);
    EXPECT_EQ(sock.shutdowns, 1);
}

}  // namespace
