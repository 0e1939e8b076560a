// UUCP lock files around opening a tty port: a live holder's lock keeps the
// port shut, a stale one is replaced, the port's own lock goes with its
// close, and a folder that takes no lock files does not keep ports shut.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/comm/comm.h"
#include "platform/comm/comm_lock.h"
#include "support/comm_pty.h"
#include "serial_test_support.h"
#include "support/lock_folder.h"
#include "support/scratch_files.h"

namespace {

using serial_test::ModuleFolder;

// A lock folder of the test's own, and a pty wired as COM4.
class CommLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetCommLockFolderForTesting(m_locks.Path().string());
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_folder.Link("COM4", m_pty.SlavePath()));
        // The other serial programs' name: /dev/pts/3 is locked as LCK..pts_3.
        ASSERT_TRUE(m_pty.SlavePath().starts_with("/dev/pts/")) << m_pty.SlavePath();
        m_lockFile = m_locks.File("LCK..pts_" + m_pty.SlavePath().substr(std::strlen("/dev/pts/")));
    }
    void TearDown() override { scratch::UseTestLockFolder(); }

    static std::string PidText(pid_t pid)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
        return text;
    }

    // The id of a process that has ended.
    static pid_t DeadPid()
    {
        const pid_t child = fork();
        if (child == 0)
            _exit(0);
        waitpid(child, nullptr, 0);
        return child;
    }

    scratch::TempDir m_locks;
    ModuleFolder m_folder;
    PseudoTerminal m_pty;
    std::string m_lockFile;
};

}  // namespace

// While the port is open its lock names this process in the ten-character
// form, a line end after it; the close removes it. On a pty the lock (and
// flock) is all: the kernel's exclusive flag, which the pty's master would
// keep after a crash of the holder, stays off.
TEST_F(CommLockTest, OpenPortHoldsItsLock)
{
    const HANDLE h = CreateCommFileA("COM4");
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastCommOpenFailure().reason;
    EXPECT_EQ(scratch::ReadBytes(m_lockFile), PidText(getpid()));
    const int direct = open(m_pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int exclusive = -1;
    EXPECT_TRUE(direct >= 0 && ioctl(direct, TIOCGEXCL, &exclusive) == 0 && exclusive == 0) << std::strerror(errno);
    close(direct);
    const HANDLE second = CreateCommFileA("COM4");
    EXPECT_EQ(second, INVALID_HANDLE_VALUE) << "the port's own lock counts too";
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_NE(GetLastCommOpenFailure().reason.find("locked by process " + std::to_string(getpid())),
              std::string::npos)
        << GetLastCommOpenFailure().reason;
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_FALSE(std::filesystem::exists(m_lockFile));
}

// A lock of a process that still runs keeps the port shut and stays as it
// was; so does one this program cannot read.
TEST_F(CommLockTest, LiveHoldersLockIsHonoured)
{
    const std::string lock = PidText(getppid());
    scratch::WriteBytes(m_lockFile, lock);
    EXPECT_EQ(CreateCommFileA("COM4"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const CommOpenFailure failure = GetLastCommOpenFailure();
    EXPECT_NE(failure.reason.find("Device or resource busy"), std::string::npos) << failure.reason;
    EXPECT_NE(failure.reason.find(m_lockFile), std::string::npos) << failure.reason;
    EXPECT_NE(failure.device.find(m_pty.SlavePath()), std::string::npos) << failure.device;
    EXPECT_EQ(scratch::ReadBytes(m_lockFile), lock);

    // The four-byte binary form of old programs names its process as well.
    const int pid = static_cast<int>(getppid());
    scratch::WriteBytes(m_lockFile, std::string(reinterpret_cast<const char*>(&pid), sizeof pid));
    EXPECT_EQ(CreateCommFileA("COM4"), INVALID_HANDLE_VALUE);
}

// A lock whose process has ended, or one holding no process id, is stale:
// it is replaced by the opener's own.
TEST_F(CommLockTest, StaleLocksAreReplaced)
{
    for (const std::string& stale : {PidText(DeadPid()), std::string("garbage\n"), std::string()}) {
        scratch::WriteBytes(m_lockFile, stale);
        const HANDLE h = CreateCommFileA("COM4");
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastCommOpenFailure().reason;
        EXPECT_EQ(scratch::ReadBytes(m_lockFile), PidText(getpid()));
        ASSERT_TRUE(CloseHandle(h));
        EXPECT_FALSE(std::filesystem::exists(m_lockFile));
    }
}

// A lock that another program took over after the open (a clean-up that
// went wrong) is left to it at the close.
TEST_F(CommLockTest, CloseRemovesOnlyItsOwnLock)
{
    const HANDLE h = CreateCommFileA("COM4");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    scratch::WriteBytes(m_lockFile, PidText(getppid()));
    ASSERT_TRUE(CloseHandle(h));
    EXPECT_EQ(scratch::ReadBytes(m_lockFile), PidText(getppid()));
}

// Where lock files cannot be made, ports open without one; a missing device
// gets no lock file at all.
TEST_F(CommLockTest, NoLockFolderNoLock)
{
    SetCommLockFolderForTesting(m_locks.File("missing"));
    const HANDLE h = CreateCommFileA("COM4");
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << GetLastCommOpenFailure().reason;
    CloseHandle(h);

    SetCommLockFolderForTesting(m_locks.Path().string());
    ASSERT_TRUE(m_folder.Link("COM5", "/dev/skiffa-no-such-device"));
    EXPECT_EQ(CreateCommFileA("COM5"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastCommOpenFailure().reason, "No such file or directory");
    EXPECT_TRUE(std::filesystem::is_empty(m_locks.Path())) << "no lock and no temporary file left";
}
