// The debug trace's line format and file handling.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "platform/base/clock.h"
#include "serial/DebugLog.h"
#include "serial_test_support.h"

namespace {

using serial_test::CurrentDirectory;

SYSTEMTIME At(WORD h, WORD m, WORD s, WORD ms)
{
    SYSTEMTIME st{};
    st.wYear = 2024;
    st.wMonth = 3;
    st.wDay = 9;
    st.wHour = h;
    st.wMinute = m;
    st.wSecond = s;
    st.wMilliseconds = ms;
    return st;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetLocalTimeSourceForTesting([] { return At(21, 4, 5, 123); });
    }
    void TearDown() override { SetLocalTimeSourceForTesting(nullptr); }

    CurrentDirectory m_cwd;
};

struct FormatCase {
    const char* what;
    std::string tag;
    std::string data;
    std::string line;  // without the time
};

// Each byte class of the data part, and the tags as the callers form them.
TEST_F(DebugLogTest, FormatsEachByteClass)
{
    std::string high;
    for (int b = 0x7F; b <= 0xFF; ++b)
        high += static_cast<char>(b);
    const FormatCase cases[] = {
        {"the documented example", "S0", "RING\r\n", "S0,RING(0d)(0a)"},
        {"0x1F is the last escaped byte", "S1", std::string(1, '\x1F'), "S1,(1f)"},
        {"0x20 is written as a blank", "S1", " ", "S1, "},
        {"0x00 is escaped", "R2", std::string(1, '\0'), "R2,(00)"},
        {"0x7F to 0xFF stay as they are", "R0", high, "R0," + high},
        {"no data ends the line with a comma", "full", "", "full,"},
        {"a DTR change", "DTR", "OFF", "DTR,OFF"},
        {"escapes and plain bytes mixed", "S12", std::string("a\tb\x1b[0m\x01", 8), "S12,a(09)b(1b)[0m(01)"},
    };
    for (const FormatCase& c : cases) {
        std::filesystem::remove(m_cwd.File("debug.log"));
        WriteDebugLog(c.tag, c.data.data(), static_cast<int>(c.data.size()));
        EXPECT_EQ(ReadFile(m_cwd.File("debug.log")), "21:04:05.123," + c.line + "\n") << c.what;
    }
}

// The time fields are zero-padded to two digits and the milliseconds to three.
TEST_F(DebugLogTest, PadsTheTime)
{
    SetLocalTimeSourceForTesting([] { return At(0, 7, 9, 5); });
    WriteDebugLog("close", "3,17", 4);
    EXPECT_EQ(ReadFile(m_cwd.File("debug.log")), "00:07:09.005,close,3,17\n");
}

// A null data pointer with a length of 0 writes the tag line only.
TEST_F(DebugLogTest, NullDataWithZeroLength)
{
    WriteDebugLog("dtr off", nullptr, 0);
    EXPECT_EQ(ReadFile(m_cwd.File("debug.log")), "21:04:05.123,dtr off,\n");
}

// A missing file is created; an existing one keeps its content and grows at
// its end, one line per call.
TEST_F(DebugLogTest, CreatesThenAppends)
{
    ASSERT_FALSE(std::filesystem::exists(m_cwd.File("debug.log")));
    WriteDebugLog("S0", "A", 1);
    ASSERT_EQ(ReadFile(m_cwd.File("debug.log")), "21:04:05.123,S0,A\n") << "created on the first line";

    SetLocalTimeSourceForTesting([] { return At(23, 59, 59, 999); });
    WriteDebugLog("S0", "B", 1);
    SetLocalTimeSourceForTesting([] { return At(0, 0, 0, 0); });  // the next day, nothing tells it apart
    WriteDebugLog("S0", "C", 1);
    EXPECT_EQ(ReadFile(m_cwd.File("debug.log")), "21:04:05.123,S0,A\n23:59:59.999,S0,B\n00:00:00.000,S0,C\n");
}

// The trace holds every byte a caller types, passwords too: a new trace is
// readable by its owner alone, whatever the umask lets others read.
TEST_F(DebugLogTest, NewTraceIsItsOwnersAlone)
{
    const mode_t umaskBefore = ::umask(022);
    WriteDebugLog("S0", "secret", 6);
    ::umask(umaskBefore);
    const auto perms = std::filesystem::status(m_cwd.File("debug.log")).permissions();
    EXPECT_EQ(perms, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// A trace file that cannot be opened loses the line, and stderr names the
// file with the reason once, not once per line; after a line is written
// again, the next failure is named again.
TEST_F(DebugLogTest, UnwritableFileIsNamedOnStderrOncePerFailure)
{
    const std::string trace = m_cwd.File("debug.log");
    const std::string named = "cannot write the file [" + trace + ": Is a directory]\n";
    const auto failTwice = [&] {
        std::filesystem::remove(trace);
        std::filesystem::create_directory(trace);  // a folder in the file's place
        testing::internal::CaptureStderr();
        WriteDebugLog("S0", "lost", 4);
        WriteDebugLog("S0", "lost", 4);
        return testing::internal::GetCapturedStderr();
    };
    const std::string first = failTwice();
    EXPECT_TRUE(first.size() > named.size() && first.ends_with(named)) << first;
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 1) << first;

    std::filesystem::remove(trace);
    WriteDebugLog("S0", "kept", 4);
    EXPECT_EQ(ReadFile(trace), "21:04:05.123,S0,kept\n");

    EXPECT_EQ(failTwice(), first) << "named again after a success";
}

}  // namespace
