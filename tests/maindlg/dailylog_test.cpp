// Tests of the daily connection log: the two line forms, the file of the day,
// the folder used, and failures that cost only the line.
#include <gtest/gtest.h>

#include "support/scratch_files.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/base/clock.h"
#include "maindlg/SkiffaDlg.h"

namespace fs = std::filesystem;

namespace {

SYSTEMTIME At(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    return st;
}

std::string ReadBytes(const fs::path& path)
{
    return scratch::ReadBytes(path.string());
}

class DailyLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_dir.empty());
        m_dlg = std::make_unique<CSkiffaDlg>();
        m_dlg->m_bLog = 1;
        m_dlg->m_strLogDir = m_dir.string();
        m_dlg->m_aPort.push_back(CPortInfo::FromSectionDefaults("COM3"));
        m_dlg->m_aPort.push_back(CPortInfo::FromSectionDefaults("COM1"));
        m_dlg->m_aPort[0].m_timeConnect = DateTime(2019, 1, 1, 21, 4, 5);
        SetClock(At(2019, 1, 1, 21, 35, 10));
    }

    void TearDown() override
    {
        SetLocalTimeSourceForTesting({});
        m_dlg.reset();
    }

    void SetClock(SYSTEMTIME now)
    {
        SetLocalTimeSourceForTesting([now] { return now; });
    }

    scratch::TempDir m_scratch{"skiffa-log-"};
    const fs::path m_dir = m_scratch.Path();
    std::unique_ptr<CSkiffaDlg> m_dlg;
};

}  // namespace

// A call line and a refusal line, appended to the day's file, which already
// holds a line: nothing is truncated.
TEST_F(DailyLog, BothLineFormsAppended)
{
    const fs::path file = m_dir / "Korvo_190101.log";
    std::ofstream(file, std::ios::binary) << "COM2,20:00:00,20:30:00\n";
    m_dlg->WriteLog(0);
    SetClock(At(2019, 1, 1, 21, 36, 0));
    m_dlg->WriteLog(-1);
    EXPECT_EQ(ReadBytes(file), "COM2,20:00:00,20:30:00\nCOM3,21:04:05,21:35:10\nFull,21:36:00\n");
}

// A line whose record has never been connected carries the connect time
// 00:00:00.
TEST_F(DailyLog, NeverConnectedLineGivesMidnight)
{
    SetClock(At(2019, 1, 1, 21, 4, 5));
    m_dlg->WriteLog(1);
    EXPECT_EQ(ReadBytes(m_dir / "Korvo_190101.log"), "COM1,00:00:00,21:04:05\n");
}

// A call that ends after midnight goes into the new day's file, with a
// connect time later than its end; the next day has a file of its own.
TEST_F(DailyLog, CallPastMidnightGoesToTheNewDay)
{
    m_dlg->m_aPort[0].m_timeConnect = DateTime(2018, 12, 31, 23, 59, 50);
    SetClock(At(2019, 1, 1, 0, 0, 5));
    m_dlg->WriteLog(0);
    SetClock(At(2019, 1, 2, 8, 0, 0));
    m_dlg->WriteLog(-1);
    EXPECT_EQ(ReadBytes(m_dir / "Korvo_190101.log"), "COM3,23:59:50,00:00:05\n");
    EXPECT_EQ(ReadBytes(m_dir / "Korvo_190102.log"), "Full,08:00:00\n");
    EXPECT_FALSE(fs::exists(m_dir / "Korvo_181231.log"));
}

// With logging off no file is opened or created; a row that names no line
// writes nothing.
TEST_F(DailyLog, NothingWrittenWhenOffOrNoSuchRow)
{
    m_dlg->m_bLog = 0;
    m_dlg->WriteLog(0);
    m_dlg->WriteLog(-1);
    m_dlg->m_bLog = 1;
    m_dlg->WriteLog(2);
    m_dlg->WriteLog(-2);
    EXPECT_TRUE(fs::is_empty(m_dir));
}

// An empty folder setting means the process's current directory at the
// moment of writing.
TEST_F(DailyLog, EmptyFolderMeansCurrentDirectory)
{
    const fs::path work = m_dir / "work";
    fs::create_directory(work);
    const fs::path saved = fs::current_path();
    fs::current_path(work);
    m_dlg->m_strLogDir.clear();
    m_dlg->WriteLog(-1);
    fs::current_path(saved);
    EXPECT_EQ(ReadBytes(work / "Korvo_190101.log"), "Full,21:35:10\n");
}

// A folder that does not exist costs the line and is not created; the next
// line, with a folder that exists, is written. A folder ending in '/' works.
TEST_F(DailyLog, MissingFolderCostsOnlyTheLine)
{
    const fs::path missing = m_dir / "missing";
    m_dlg->m_strLogDir = missing.string();
    m_dlg->WriteLog(0);
    EXPECT_FALSE(fs::exists(missing));

    m_dlg->m_strLogDir = m_dir.string() + "/";
    m_dlg->WriteLog(-1);
    EXPECT_EQ(ReadBytes(m_dir / "Korvo_190101.log"), "Full,21:35:10\n");
}
