// Tests of the configuration file: the text escapes, loading korvo.ini into
// the main dialog's members and saving them back with the rest of the file
// kept.
#include "relay/TextEscapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "platform/system/profile.h"
#include "maindlg/SkiffaDlg.h"
#include "support/scratch_files.h"

namespace fs = std::filesystem;

namespace {

// "他のユーザーが接続中で回線に空きがありません。" in CP932, without its CR LF.
const std::string kFullSentence =
    "\x91\xbc\x82\xcc\x83\x86\x81\x5b\x83\x55\x81\x5b\x82\xaa\x90\xda\x91\xb1\x92\x86\x82\xc5"
    "\x89\xf1\x90\xfc\x82\xc9\x8b\xf3\x82\xab\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81\x42";
// "表": its second byte is 0x5C, the backslash.
const std::string kHyo = "\x95\x5C";

using scratch::ReadBytes;
using scratch::TempDir;
using scratch::WriteBytes;

class Config : public ::testing::Test {
protected:
    TempDir m_dir;  // first: the file name below is made from it
    std::string m_ini = m_dir.File("korvo.ini");

    // A dialog that has loaded the file, as start-up does.
    std::unique_ptr<CSkiffaDlg> Load()
    {
        auto dlg = std::make_unique<CSkiffaDlg>();
        dlg->m_strIniFile = m_ini;
        dlg->LoadSettings();
        return dlg;
    }

    std::string Value(const std::string& section, const std::string& key)
    {
        return GetPrivateProfileStringWhole(section, key, "<missing>", m_ini);
    }
};

}  // namespace

// The escapes: each control character in turn, the backslash left alone, and
// matches only at character boundaries of CP932.
TEST(Escapes, TableOfTexts)
{
    struct Case {
        std::string plain;
        std::string stored;
    };
    const Case roundTrips[] = {
        {"", ""},
        {"\r\n", "\\r\\n"},
        {"a\tb\r\nc\n", "a\\tb\\r\\nc\\n"},
        {"C:\\Temp", "C:\\Temp"},  // a backslash not before r, n or t
        {kHyo + "n", kHyo + "n"},  // 0x5C as a second byte is no backslash
        {kHyo + "\r\n", kHyo + "\\r\\n"},
        {kFullSentence + "\r\n", kFullSentence + "\\r\\n"},
        {"\x81", "\x81"},  // a lone lead byte at the end
    };
    for (const Case& c : roundTrips) {
        EXPECT_EQ(EscapeControlChars(c.plain), c.stored) << c.stored;
        EXPECT_EQ(UnescapeControlChars(c.stored), c.plain) << c.stored;
    }
    // A lead byte before a CR makes no character with it: the CR is escaped.
    EXPECT_EQ(EscapeControlChars("\x81\r"), "\x81\\r");
    // Stored texts a user typed with backslashes: they unescape.
    EXPECT_EQ(UnescapeControlChars("C:\\temp\\new"), "C:\temp\new");
    EXPECT_EQ(UnescapeControlChars("\\\\n"), "\\\n");
    EXPECT_EQ(UnescapeControlChars("\\"), "\\");
    // "ソ" (0x83 0x5C) then "r": the 0x5C and the r are not an escape, but
    // the backslash-n that follows is.
    EXPECT_EQ(UnescapeControlChars("\x83\x5Cr\\n"), "\x83\x5Cr\n");
}

// For any text without backslashes, unescaping undoes escaping, and the
// stored text has no line break or TAB left.
TEST(Escapes, RoundTripOfRandomTexts)
{
    std::mt19937 rng(932);
    const std::string alphabet = "\r\n\tabrnt \x81\x95\x5C\x83\xE0\xFC\x40\x7E";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const int length = std::uniform_int_distribution<int>(0, 24)(rng);
        for (int i = 0; i < length; ++i)
            text.push_back(alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)]);
        // Keep the text valid CP932 (a lead byte only before a second byte)
        // and free of real backslashes; a 0x5C as a second byte stays.
        for (size_t i = 0; i < text.size(); ++i) {
            const auto b = static_cast<unsigned char>(text[i]);
            const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
            const bool trailFollows =
                i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x40 && text[i + 1] != 0x7F;
            if (lead && trailFollows)
                ++i;
            else if (lead || text[i] == '\\')
                text[i] = '/';
        }
        const std::string stored = EscapeControlChars(text);
        EXPECT_EQ(stored.find_first_of("\r\n\t"), std::string::npos) << stored;
        EXPECT_EQ(UnescapeControlChars(stored), text) << stored;
    }
}

// No file: every default, no port, and no file until the first save, which
// writes the sections in order.
TEST_F(Config, NoFileGivesDefaultsAndSaveCreatesFile)
{
    auto dlg = Load();
    EXPECT_TRUE(dlg->m_aPort.empty());
    EXPECT_EQ(dlg->m_nPort, 23);
    EXPECT_EQ(dlg->m_nNoCommTime, 0);
    EXPECT_EQ(dlg->m_nNoCommCount, 0);
    EXPECT_EQ(dlg->m_nLimitTime, 0);
    EXPECT_EQ(dlg->m_nLimitCount, 0);
    EXPECT_EQ(dlg->m_nKeepTime, 10);
    EXPECT_STREQ(dlg->m_szCheck1, "");
    EXPECT_STREQ(dlg->m_szCheck2, "");
    EXPECT_EQ(dlg->m_strAfter, "");
    EXPECT_EQ(dlg->m_strFull, kFullSentence + "\r\n");
    EXPECT_EQ(dlg->m_strFull.size(), 48u);
    EXPECT_EQ(dlg->m_bLog, 0);
    EXPECT_EQ(dlg->m_strLogDir, "");
    EXPECT_EQ(dlg->m_bDebugLog, 0);
    EXPECT_FALSE(fs::exists(m_ini)) << "loading creates no file";

    dlg->SaveSettings();
    EXPECT_EQ(ReadBytes(m_ini), "[COM1]\nNAME=\n"
                                "[SERVER]\nPORT=23\n"
                                "[TIME]\nNO_COMM=0\nLIMIT=0\nKEEP=10\n"
                                "[TEXT]\nCHECK1=\nCHECK2=\nAFTER=\nFULL=" +
                                    kFullSentence +
                                    "\\r\\n\n"
                                    "[ALL]\nTRAY=0\n"
                                    "[LOG]\nENABLE=0\nDIR=\n");
    EXPECT_EQ(Load()->m_strFull, kFullSentence + "\r\n") << "read back with CR LF";
}

// Loading names the file it read and the lines it found, or why it could not
// read it, so that a sysop whose lines do not come up knows where to look.
TEST_F(Config, LoadingSaysWhatItRead)
{
    WriteBytes(m_ini, "[COM1]\nNAME=COM1\n[COM2]\nNAME=COM4\n");
    testing::internal::CaptureStderr();
    Load();
    fs::remove(m_ini);
    fs::create_directory(m_ini);
    Load();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "skiffa: settings read [" + m_ini + ": 2 COM lines]\nskiffa: cannot read the settings [" + m_ini +
                  ": Is a directory]: every setting has its default, so there is no COM line\n");
}

// Every key of a port section lands in its own field; missing keys take the
// section defaults (odd parity, 2000 ms CONNECT wait); values are not checked.
TEST_F(Config, PortSectionsLoadInOrder)
{
    WriteBytes(m_ini, "[COM1]\nNAME=COM3\nSPEED=4800\nDATA=7\nSTOP=2\nPARITY=2\nRING=3\n"
                      "INTERVAL=1500\nCONNECT_INTERVAL=250\nCONNECT=2\nDSR=0\n"
                      "[COM2]\nNAME=COM7\n");
    auto dlg = Load();
    ASSERT_EQ(dlg->m_aPort.size(), 2u);
    const CPortInfo& a = dlg->m_aPort[0];
    EXPECT_EQ(a.m_strName, "COM3");
    EXPECT_EQ(a.m_nSpeed, 4800) << "loaded unchecked";
    EXPECT_EQ(a.m_nData, 7);
    EXPECT_EQ(a.m_nStop, 2);
    EXPECT_EQ(a.m_nParity, 2);
    EXPECT_EQ(a.m_nRing, 3);
    EXPECT_EQ(a.m_nRingInterval, 1500);
    EXPECT_EQ(a.m_nConnectInterval, 250);
    EXPECT_EQ(a.m_nConnect, 2);
    EXPECT_EQ(a.m_bDsr, 0);
    EXPECT_EQ(a.m_nState, LINE_IDLE);
    EXPECT_EQ(a.m_pComm, nullptr);
    EXPECT_EQ(a.m_sock, INVALID_SOCKET);

    const CPortInfo& b = dlg->m_aPort[1];
    EXPECT_EQ(b.m_strName, "COM7");
    EXPECT_EQ(b.m_nSpeed, 38400);
    EXPECT_EQ(b.m_nData, 8);
    EXPECT_EQ(b.m_nStop, 1);
    EXPECT_EQ(b.m_nParity, 1);
    EXPECT_EQ(b.m_nRing, 2);
    EXPECT_EQ(b.m_nRingInterval, 1000);
    EXPECT_EQ(b.m_nConnectInterval, 2000);
    EXPECT_EQ(b.m_nConnect, 1);
    EXPECT_EQ(b.m_bDsr, 1);
}

// A gap in the numbering ends the list: COM3 after a missing COM2 (or a COM2
// with an empty NAME) is not loaded, and the save marks COM2 and leaves COM3.
TEST_F(Config, GapEndsThePortList)
{
    const std::string com3 = "[COM3]\nNAME=COM9\nSPEED=9600\n";
    for (const std::string& com2 : {std::string(), std::string("[COM2]\nNAME=\nSPEED=1200\n")}) {
        WriteBytes(m_ini, "[COM1]\nNAME=COM1\n" + com2 + com3);
        auto dlg = Load();
        ASSERT_EQ(dlg->m_aPort.size(), 1u) << com2;
        dlg->SaveSettings();
        EXPECT_EQ(Value("COM2", "NAME"), "");
        const std::string saved = ReadBytes(m_ini);
        EXPECT_NE(saved.find(com3), std::string::npos) << "COM3 untouched:\n" << saved;
        if (!com2.empty()) {
            EXPECT_EQ(Value("COM2", "SPEED"), "1200") << "the marker section's other keys stay";
        }
    }
}

// A list shrunk from three ports to one: COM1 rewritten, the end marker in
// COM2 with its other keys kept, COM3 untouched; the next start has one port.
// With no ports left the port part of the save is the empty NAME in COM1.
TEST_F(Config, ShrunkListKeepsOldSections)
{
    {
        auto dlg = Load();
        for (const char* name : {"COM1", "COM2", "COM3"})
            dlg->m_aPort.push_back(CPortInfo::FromSectionDefaults(name));
        dlg->m_aPort[1].m_nSpeed = 57600;
        dlg->SaveSettings();
    }
    const std::string before = ReadBytes(m_ini);
    const size_t com3At = before.find("[COM3]");
    const std::string com3 = before.substr(com3At, before.find("[COM4]") - com3At);

    auto dlg = Load();
    ASSERT_EQ(dlg->m_aPort.size(), 3u);
    dlg->m_aPort.resize(1);
    dlg->SaveSettings();
    EXPECT_EQ(Value("COM2", "NAME"), "");
    EXPECT_EQ(Value("COM2", "SPEED"), "57600") << "the marker section's other keys stay";
    EXPECT_NE(ReadBytes(m_ini).find(com3), std::string::npos) << "COM3 untouched";
    EXPECT_EQ(Load()->m_aPort.size(), 1u);

    dlg->m_aPort.clear();
    dlg->SaveSettings();
    EXPECT_EQ(Value("COM1", "NAME"), "");
    EXPECT_EQ(Value("COM1", "SPEED"), "38400");
    EXPECT_TRUE(Load()->m_aPort.empty());
}

// FULL missing gives string 214; FULL present but empty gives the empty text.
TEST_F(Config, FullMissingAgainstEmpty)
{
    WriteBytes(m_ini, "[TEXT]\nAFTER=x\n");
    EXPECT_EQ(Load()->m_strFull, kFullSentence + "\r\n");
    WriteBytes(m_ini, "[TEXT]\nFULL=\n");
    EXPECT_EQ(Load()->m_strFull, "");
}

// Texts with CR LF pairs and TABs come back byte for byte, each stored on one
// line; texts longer than 259 bytes are read whole; a hang-up string is cut
// to 2048 bytes without splitting a double-byte character.
TEST_F(Config, TextsRoundTrip)
{
    const std::string after = "ATH0\r\n\tbye\r\n" + kHyo + "\t" + std::string(600, 'a');
    const std::string check1 = "NO CARRIER\r\n";
    const std::string check2 = kFullSentence + "\t\r\n";
    {
        auto dlg = Load();
        dlg->m_strAfter = after;
        dlg->m_strFull = "\r\n" + kFullSentence;
        std::strcpy(dlg->m_szCheck1, check1.c_str());
        std::strcpy(dlg->m_szCheck2, check2.c_str());
        dlg->SaveSettings();
    }
    EXPECT_EQ(Value("TEXT", "CHECK1"), "NO CARRIER\\r\\n");
    auto dlg = Load();
    EXPECT_EQ(dlg->m_strAfter, after);
    EXPECT_EQ(dlg->m_strFull, "\r\n" + kFullSentence);
    EXPECT_EQ(std::string(dlg->m_szCheck1), check1);
    EXPECT_EQ(std::string(dlg->m_szCheck2), check2);

    // 2047 bytes and then "表": the character does not fit whole.
    WriteBytes(m_ini, "[TEXT]\nCHECK1=" + std::string(2047, 'x') + kHyo +
                          "tail\nCHECK2=" + std::string(3000, 'y') + "\n");
    dlg = Load();
    EXPECT_EQ(std::string(dlg->m_szCheck1), std::string(2047, 'x'));
    EXPECT_EQ(std::string(dlg->m_szCheck2), std::string(2048, 'y'));
}

// A file written by hand on Windows: blanks after values, quoted names and
// texts, CR LF. It loads as the Windows reader gives it, and a save keeps
// texts that begin or end with a blank or a quote exactly.
TEST_F(Config, HandWrittenQuotedAndPaddedValues)
{
    WriteBytes(m_ini, "[COM1]\r\nNAME=COM1 \r\nSPEED=9600\t\r\n"
                      "[COM2]\r\nNAME=\"COM2\"\r\nRING = '0' \r\n"
                      "[COM3]\r\nNAME=\"\" \r\n"
                      "[SERVER]\r\nPORT=\"2323\"\r\n"
                      "[TEXT]\r\nAFTER=\" NO CARRIER\\r\\n\"\r\nFULL='busy' \r\n"
                      "[LOG]\r\nDIR=\"C:\\Korvo Logs\\\"\r\n");
    auto dlg = Load();
    ASSERT_EQ(dlg->m_aPort.size(), 2u) << "COM3's quoted empty NAME ends the list";
    EXPECT_EQ(dlg->m_aPort[0].m_strName, "COM1");
    EXPECT_EQ(dlg->m_aPort[0].m_nSpeed, 9600);
    EXPECT_EQ(dlg->m_aPort[1].m_strName, "COM2");
    EXPECT_EQ(dlg->m_aPort[1].m_nRing, 0);
    EXPECT_EQ(dlg->m_nPort, 2323);
    EXPECT_EQ(dlg->m_strAfter, " NO CARRIER\r\n");
    EXPECT_EQ(dlg->m_strFull, "busy");
    EXPECT_EQ(dlg->m_strLogDir, "C:\\Korvo Logs\\");

    dlg->m_strAfter = " x";
    dlg->m_strFull = "'quoted' ";
    dlg->SaveSettings();
    EXPECT_EQ(Value("TEXT", "AFTER"), " x");
    auto again = Load();
    EXPECT_EQ(again->m_strAfter, " x");
    EXPECT_EQ(again->m_strFull, "'quoted' ");
    EXPECT_EQ(again->m_aPort[1].m_strName, "COM2");
}

// A folder is stored as typed, while the same characters in a TEXT value
// unescape; an AFTER typed with backslash-n comes back as LF; a CP932
// character ending in 0x5C, followed by n, is read back unchanged.
TEST_F(Config, BackslashesInFoldersAndTexts)
{
    {
        auto dlg = Load();
        dlg->m_strLogDir = "C:\\temp\\new";
        dlg->m_strAfter = "C:\\temp\\new";
        dlg->SaveSettings();
    }
    EXPECT_EQ(Value("LOG", "DIR"), "C:\\temp\\new");
    EXPECT_EQ(Value("TEXT", "AFTER"), "C:\\temp\\new");
    auto dlg = Load();
    EXPECT_EQ(dlg->m_strLogDir, "C:\\temp\\new");
    EXPECT_EQ(dlg->m_strAfter, "C:\temp\new");

    WriteBytes(m_ini, "[TEXT]\r\nAFTER=" + kHyo + "n\r\nCHECK1=" + kHyo + "n\\n\r\n");
    dlg = Load();
    EXPECT_EQ(dlg->m_strAfter, kHyo + "n");
    EXPECT_EQ(std::string(dlg->m_szCheck1), kHyo + "n\n");
}

// NAME and DIR longer than 259 bytes are taken cut to 259.
TEST_F(Config, NameAndDirAreCut)
{
    WriteBytes(m_ini,
               "[COM1]\nNAME=" + std::string(300, 'N') + "\n[LOG]\nDIR=/" + std::string(300, 'd') + "\n");
    auto dlg = Load();
    ASSERT_EQ(dlg->m_aPort.size(), 1u);
    EXPECT_EQ(dlg->m_aPort[0].m_strName, std::string(259, 'N'));
    EXPECT_EQ(dlg->m_strLogDir, "/" + std::string(258, 'd'));
}

// Limits in seconds give twice as many ticks; the seconds are saved. A huge
// value from a hand-edited file does not overflow the tick count.
TEST_F(Config, TimeLimitsInTicks)
{
    WriteBytes(m_ini, "[TIME]\nNO_COMM=30\nLIMIT=2000000000\nKEEP=0\n");
    auto dlg = Load();
    EXPECT_EQ(dlg->m_nNoCommTime, 30);
    EXPECT_EQ(dlg->m_nNoCommCount, 60);
    EXPECT_EQ(dlg->m_nLimitTime, 2000000000);
    EXPECT_EQ(dlg->m_nLimitCount, INT_MAX);
    EXPECT_EQ(dlg->m_nKeepTime, 0);
    dlg->m_nNoCommCount = 999;  // never stored
    dlg->SaveSettings();
    EXPECT_EQ(Value("TIME", "NO_COMM"), "30");
    EXPECT_EQ(Value("TIME", "LIMIT"), "2000000000");
}

// DEBUG/ENABLE is read and never written; ALL/TRAY is written but left for
// start-up to read later.
TEST_F(Config, DebugAndTrayKeys)
{
    WriteBytes(m_ini, "[DEBUG]\nENABLE=1\n[ALL]\nTRAY=1\n");
    auto dlg = Load();
    EXPECT_EQ(dlg->m_bDebugLog, 1);
    EXPECT_EQ(dlg->m_bTray, 0) << "TRAY is not read with the rest";
    dlg->m_bDebugLog = 0;
    dlg->SaveSettings();
    EXPECT_EQ(Value("DEBUG", "ENABLE"), "1");
    EXPECT_EQ(Value("ALL", "TRAY"), "0");

    fs::remove(m_ini);
    Load()->SaveSettings();
    EXPECT_EQ(ReadBytes(m_ini).find("DEBUG"), std::string::npos);
}

// A korvo.ini as a Windows installation has it: CP932, CR LF, a comment, an
// unknown section, port sections left beyond the end marker. It loads; a save
// keeps every byte it does not own and adds the missing key with the file's
// CR LF; a changed setting changes only its own value.
TEST_F(Config, ExistingInstallationFileIsKept)
{
    const std::string file =
        "; " + std::string("\x90\xdd\x92\xe8") +
        " korvo\r\n"  // "設定"
        "[COM1]\r\nNAME=COM2\r\nSPEED=19200\r\nDATA=8\r\nSTOP=1\r\nPARITY=0\r\nRING=1\r\n"
        "INTERVAL=800\r\nCONNECT_INTERVAL=0\r\nCONNECT=1\r\nDSR=1\r\n"
        "[COM2]\r\nNAME=\r\nSPEED=2400\r\n"
        "[COM3]\r\nNAME=COM5\r\n"
        "[SERVER]\r\nPORT=2323\r\n"
        "[TIME]\r\nNO_COMM=300\r\nLIMIT=3600\r\nKEEP=5\r\n"
        "[TEXT]\r\nCHECK1=NO CARRIER\r\nCHECK2=" +
        kHyo + "\\r\\n\r\nAFTER=\\r\\nATH\\r\\n\r\nFULL=" + kFullSentence +
        "\\r\\n\r\n"
        "[Vendor]\r\nKey=\x83\x52\x83\x81\r\n"
        "[LOG]\r\nENABLE=1\r\nDIR=C:\\Korvo\\log\r\n"
        "[DEBUG]\r\nENABLE=0\r\n";
    WriteBytes(m_ini, file);
    auto dlg = Load();
    ASSERT_EQ(dlg->m_aPort.size(), 1u);
    EXPECT_EQ(dlg->m_aPort[0].m_strName, "COM2");
    EXPECT_EQ(dlg->m_aPort[0].m_nSpeed, 19200);
    EXPECT_EQ(dlg->m_nPort, 2323);
    EXPECT_EQ(dlg->m_nNoCommCount, 600);
    EXPECT_EQ(std::string(dlg->m_szCheck2), kHyo + "\r\n");
    EXPECT_EQ(dlg->m_strAfter, "\r\nATH\r\n");
    EXPECT_EQ(dlg->m_bLog, 1);
    EXPECT_EQ(dlg->m_strLogDir, "C:\\Korvo\\log");

    // The file predates the tray option: its section is added, with CR LF.
    std::string expected = file + "[ALL]\r\nTRAY=0\r\n";
    dlg->SaveSettings();
    EXPECT_EQ(ReadBytes(m_ini), expected);
    dlg->SaveSettings();
    EXPECT_EQ(ReadBytes(m_ini), expected) << "saving the same settings again changes no byte";

    dlg->m_nKeepTime = 15;
    dlg->SaveSettings();
    const size_t keep = expected.find("KEEP=5");
    expected.replace(keep, 6, "KEEP=15");
    EXPECT_EQ(ReadBytes(m_ini), expected);
}

// More port sections than the relay has lines: the first 100 are loaded.
TEST_F(Config, AtMostMaxLinesPorts)
{
    std::string file;
    for (int n = 1; n <= MAX_LINES + 5; ++n)
        file += "[COM" + std::to_string(n) + "]\nNAME=COM" + std::to_string(n) + "\n";
    WriteBytes(m_ini, file);
    auto dlg = Load();
    ASSERT_EQ(dlg->m_aPort.size(), static_cast<size_t>(MAX_LINES));
    EXPECT_EQ(dlg->m_aPort.back().m_strName, "COM100");
}

// Files that are not INI files load as defaults where nothing matches and
// never crash or hang; random junk keeps every member within its bounds.
TEST_F(Config, JunkFilesLoadSafely)
{
    std::string binary;
    for (int i = 0; i < 8192; ++i)
        binary.push_back(static_cast<char>((i * 131 + 7) % 256));
    WriteBytes(m_ini, binary);
    auto dlg = Load();
    EXPECT_TRUE(dlg->m_aPort.empty());
    EXPECT_EQ(dlg->m_nPort, 23);

    WriteBytes(m_ini,
               std::string(10 * 1024 * 1024, 'j') + "\n[SERVER]\nPORT 2323\nno equals\n[TIME]\nKEEP=x\n");
    dlg = Load();
    EXPECT_EQ(dlg->m_nPort, 23) << "a line without '=' is no key";
    EXPECT_EQ(dlg->m_nKeepTime, 0) << "a value that is not a number reads as 0";

    std::mt19937 rng(2107);
    const std::vector<std::string> pieces = {"[COM1]",
                                             "[COM2]",
                                             "[TEXT]",
                                             "[TIME]",
                                             "NAME=",
                                             "CHECK1=",
                                             "AFTER=",
                                             "NO_COMM=",
                                             "\\n",
                                             "\\r",
                                             "\\",
                                             "\r\n",
                                             "\n",
                                             "=",
                                             "9999999999",
                                             "-",
                                             kHyo,
                                             "\x81",
                                             std::string(1, '\0'),
                                             "x",
                                             std::string(300, 'z'),
                                             std::string(2100, 'c')};
    for (int round = 0; round < 60; ++round) {
        std::string text;
        const int count = std::uniform_int_distribution<int>(0, 40)(rng);
        for (int i = 0; i < count; ++i)
            text += pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(rng)];
        WriteBytes(m_ini, text);
        dlg = Load();
        EXPECT_LE(dlg->m_aPort.size(), static_cast<size_t>(MAX_LINES));
        for (const CPortInfo& port : dlg->m_aPort) {
            EXPECT_FALSE(port.m_strName.empty());
            EXPECT_LE(port.m_strName.size(), 259u);
        }
        EXPECT_LT(strnlen(dlg->m_szCheck1, HANGUP_STORE_SIZE), static_cast<size_t>(HANGUP_STORE_SIZE));
        EXPECT_EQ(dlg->m_nNoCommCount, std::clamp<long long>(2LL * dlg->m_nNoCommTime, INT_MIN, INT_MAX));
    }
}
