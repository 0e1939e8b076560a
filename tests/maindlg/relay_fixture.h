// Runs the real main dialog in this process on the offscreen platform, with
// in-memory serial devices as the hosts and loopback TCP clients as callers.
#pragma once

#include "support/scratch_files.h"
#include "support/telnet_offers.h"

#include <QCoreApplication>
#include <QTimer>
#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "support/memserial.h"
#include "platform/base/module.h"
#include "platform/windows/msgbox.h"
#include "support/free_port.h"
#include "support/winsock_calls.h"
#include "maindlg/SkiffaDlg.h"

namespace relaytest {

using wstest::BoundPort;
using wstest::GiveUpSeconds;

// Pins a socket's send buffer small, so the kernel holds back little of what
// is sent to a caller that does not read.
inline void ShrinkSendBuffer(SOCKET s)
{
    wstest::SetSendBuffer(s, 4096);
}

using namespace std::chrono_literals;

// Pumps the event loop until pred holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Pumps the event loop for a while (for checks that something does NOT come).
inline void Pump(std::chrono::milliseconds duration)
{
    WaitUntil([] { return false; }, duration);
}

// A telnet caller on a plain blocking-free loopback socket.
class Caller {
public:
    // receiveBuffer > 0 shrinks the caller's receive window, so that a caller
    // that does not read holds back what the relay sends it.
    explicit Caller(int port, int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~Caller() { Close(); }
    Caller(const Caller&) = delete;
    Caller& operator=(const Caller&) = delete;

    void Send(const std::string& bytes)
    {
        size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n > 0)
                off += static_cast<size_t>(n);
            else
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    // Reads whatever arrives while pumping the relay; stops at `count` bytes
    // or the end of the stream.
    bool ReadAtLeast(size_t count, std::chrono::milliseconds timeout = 5s)
    {
        return WaitUntil(
                   [&] {
                       Drain();
                       return m_received.size() >= count || m_eof;
                   },
                   timeout) &&
               m_received.size() >= count;
    }
    bool WaitForEnd(std::chrono::milliseconds timeout = 5s)
    {
        return WaitUntil(
            [&] {
                Drain();
                return m_eof;
            },
            timeout);
    }
    std::string Take()
    {
        Drain();
        std::string r;
        r.swap(m_received);
        return r;
    }
    bool Ended()
    {
        Drain();
        return m_eof;
    }
    // Whether the system has completed the connection (the relay may not
    // have accepted it yet).
    bool Connected() const
    {
        pollfd p{m_fd, POLLOUT, 0};
        int err = 1;
        socklen_t len = sizeof err;
        return ::poll(&p, 1, 0) == 1 && ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
    // Ends what the caller sends; he still reads.
    void HalfClose() { ::shutdown(m_fd, SHUT_WR); }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    void Drain()
    {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n > 0) {
                m_received.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n == 0)
                m_eof = true;
            return;
        }
    }
    int m_fd = -1;
    std::string m_received;
    bool m_eof = false;
};

class RelayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetModuleFileNameForTesting(m_dir.File("skiffa"));
        SetMessageBoxHookForTesting([this](const MessageBoxRecord& r) {
            m_boxes.push_back(r);
            return IDOK;
        });
    }
    void TearDown() override
    {
        SetMessageBoxHookForTesting({});
        SetModuleFileNameForTesting("");
        for (const std::string& name : m_devices)
            MemSerialDevice::Unregister(name);
    }

    std::shared_ptr<MemSerialDevice> Device(const std::string& name)
    {
        m_devices.push_back(name);
        auto dev = MemSerialDevice::Register(name);
        dev->SetDsr(true);
        return dev;
    }

    // Writes korvo.ini (listening on a free port) and runs the dialog with
    // `body` inside its modal loop.
    void Run(const std::string& ini, const std::function<void(CSkiffaDlg&)>& body)
    {
        RunAsWritten("[SERVER]\nPORT=" + std::to_string(scratch::FreeTcpPort()) + "\n" + ini, body);
    }

    // The same with korvo.ini exactly as given.
    void RunAsWritten(const std::string& ini, const std::function<void(CSkiffaDlg&)>& body)
    {
        std::ofstream(m_dir.File("korvo.ini")) << ini;
        CSkiffaDlg dlg;
        QTimer::singleShot(0, [&] {
            body(dlg);
            dlg.PostMessage(WM_CLOSE, 0, 0);
        });
        dlg.DoModal();
    }

    static int ListenPort(CSkiffaDlg& dlg) { return BoundPort(dlg.m_sockListen); }

    // A caller that has been given a line and has read the option offers.
    std::unique_ptr<Caller> Call(CSkiffaDlg& dlg, int receiveBuffer = 0)
    {
        auto c = std::make_unique<Caller>(ListenPort(dlg), receiveBuffer);
        EXPECT_TRUE(c->ReadAtLeast(kOffers.size())) << "no option offers";
        EXPECT_EQ(c->Take(), kOffers);
        return c;
    }

    static void Tick(CSkiffaDlg& dlg) { dlg.SendMessage(WM_TIMER, TIMER_TICK, 0); }

    // Waits until the host has received `text` (and returns everything written).
    static std::string HostGets(MemSerialDevice& dev, const std::string& text)
    {
        std::string all;
        WaitUntil([&] {
            all += dev.TakeWritten();
            return all.find(text) != std::string::npos;
        });
        return all;
    }

    scratch::TempDir m_dir{"skiffa-relay-"};
    // The byte trace and a daily log without a folder go to the current
    // directory: the test's own folder, not wherever the suite was started.
    scratch::WorkIn m_work{m_dir.Path()};
    std::vector<std::string> m_devices;
    std::vector<MessageBoxRecord> m_boxes;
};

}  // namespace relaytest
