// The parent-process test, the column layout and the version text.
#include <cstring>
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "resources/ResString.h"
#include "maindlg/Startup.h"

namespace {

PROCESSENTRY32 Entry(DWORD pid, DWORD parent, const char* name)
{
    PROCESSENTRY32 e{};
    e.th32ProcessID = pid;
    e.th32ParentProcessID = parent;
    std::strncpy(e.szExeFile, name, sizeof e.szExeFile - 1);
    return e;
}

bool ServiceModeWithParentNamed(const char* name)
{
    const std::vector<PROCESSENTRY32> snapshot = {Entry(1, 0, "init"), Entry(40, 1, name),
                                                  Entry(77, 40, "skiffa")};
    return IsServiceHostParent(snapshot, 77);
}

}  // namespace

TEST(ParentProcessTest, LettersSexeInAnyCaseSelectServiceMode)
{
    EXPECT_TRUE(ServiceModeWithParentNamed("abcsexe.exe"));
    EXPECT_TRUE(ServiceModeWithParentNamed("ABCSeXe.EXE"));
    EXPECT_TRUE(ServiceModeWithParentNamed("sexe"));
    EXPECT_TRUE(ServiceModeWithParentNamed("svcsexe"));
}

TEST(ParentProcessTest, OtherNamesDoNot)
{
    EXPECT_FALSE(ServiceModeWithParentNamed("sex.exe")) << "letters not adjacent";
    EXPECT_FALSE(ServiceModeWithParentNamed("sex")) << "shorter than four bytes";
    EXPECT_FALSE(ServiceModeWithParentNamed("sexs"));
    EXPECT_FALSE(ServiceModeWithParentNamed("bash"));
    EXPECT_FALSE(ServiceModeWithParentNamed(""));
}

TEST(ParentProcessTest, OnlyTheDirectParentCounts)
{
    // The grandparent is a service host, the parent a shell.
    const std::vector<PROCESSENTRY32> snapshot = {Entry(10, 1, "svcsexe"), Entry(20, 10, "bash"),
                                                  Entry(30, 20, "skiffa")};
    EXPECT_FALSE(IsServiceHostParent(snapshot, 30));
    EXPECT_TRUE(IsServiceHostParent(snapshot, 20)) << "bash's parent is the service host";
}

TEST(ParentProcessTest, MissingEntriesLeaveTheModeOff)
{
    EXPECT_FALSE(IsServiceHostParent({}, 5)) << "empty snapshot";
    EXPECT_FALSE(IsServiceHostParent({Entry(6, 1, "sexe")}, 5)) << "own process not listed";
    EXPECT_FALSE(IsServiceHostParent({Entry(5, 99, "skiffa")}, 5)) << "parent has ended";
}

TEST(ParentProcessTest, NameFillingTheWholeFieldIsReadWithinIt)
{
    PROCESSENTRY32 parent = Entry(2, 1, "");
    std::memset(parent.szExeFile, 'a', sizeof parent.szExeFile);
    std::memcpy(parent.szExeFile + sizeof parent.szExeFile - 4, "SEXE", 4);  // no NUL at all
    EXPECT_TRUE(IsServiceHostParent({parent, Entry(3, 2, "skiffa")}, 3));
}

TEST(ColumnLayout, WidthsAreTruncatedShares)
{
    const std::array<int, 4> w403 = ColumnWidths(403);
    EXPECT_EQ(w403, (std::array<int, 4>{40, 241, 60, 60}));
    const std::array<int, 4> w100 = ColumnWidths(100);
    EXPECT_EQ(w100, (std::array<int, 4>{10, 60, 15, 15}));
    const std::array<int, 4> w0 = ColumnWidths(0);
    EXPECT_EQ(w0, (std::array<int, 4>{0, 0, 0, 0}));
}

TEST(VersionText, ProductVersion)
{
    EXPECT_EQ(GetVersionString(), "Version 1.0.0.1");
}

TEST(StringTable, TextsComeInTheProgramsCodePage)
{
    const std::string full = LoadResString(IDS_FULL_TEXT);
    EXPECT_EQ(full.size(), 48u) << "46 bytes of CP932 text and CR LF";
    EXPECT_EQ(full.substr(full.size() - 2), "\r\n");
    EXPECT_EQ(static_cast<unsigned char>(full[0]), 0x91u) << "the first character in Shift_JIS";
    EXPECT_EQ(LoadResString(IDS_APP_TITLE), "Varnex - Skiffa");
    EXPECT_EQ(LoadResString(12345), "") << "an unknown id gives an empty text";
    for (unsigned id = 204; id <= 210; ++id)
        EXPECT_FALSE(LoadResString(id).empty()) << id;
}
