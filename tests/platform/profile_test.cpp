// Tests of the INI file functions: reading defaults and values, writing one
// key with every other byte kept, atomic replacement, and junk input.
#include "platform/system/profile.h"
#include "support/profile_write.h"
#include "support/scratch_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using scratch::ReadBytes;
using scratch::TempDir;
using scratch::WriteBytes;

std::string ReadString(const std::string& section, const std::string& key, const std::string& file,
                       const std::string& def = "<default>")
{
    return GetPrivateProfileStringWhole(section, key, def, file);
}

// Files in the folder other than the ones named.
std::vector<std::string> OtherFiles(const fs::path& dir, const std::vector<std::string>& known)
{
    std::vector<std::string> others;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end())
            others.push_back(name);
    }
    return others;
}

// Names equal without regard to ASCII case (the names of the random test hold
// no double-byte character whose second byte is a letter).
bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

// A missing file gives every default and is not created by reading.
TEST(Profile, MissingFileGivesDefaultsAndStaysMissing)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    EXPECT_EQ(GetPrivateProfileIntA("SERVER", "PORT", 23, ini), 23);
    char buf[16] = "xxxxxxxxxxxxxxx";
    EXPECT_EQ(GetPrivateProfileStringA("COM1", "NAME", "", buf, sizeof buf, ini), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(ReadString("TEXT", "FULL", ini, "full text"), "full text");
    EXPECT_FALSE(fs::exists(ini));
    // A folder in place of the file reads like no file.
    fs::create_directory(ini);
    EXPECT_EQ(GetPrivateProfileIntA("SERVER", "PORT", 23, ini), 23);
}

// Sections and keys are found without regard to case, the first match wins,
// comments and keys outside any section are not values, and a value is what
// stands after the '=' without the blanks at either end.
TEST(Profile, ReadsValuesByCaseInsensitiveNames)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    WriteBytes(ini, "NAME=outside\r\n"
                    "; [COM1] in a comment\r\n"
                    "[com1]\r\n"
                    ";NAME=commented\r\n"
                    "  name  =COM3\r\n"
                    "Name=second\r\n"
                    "EMPTY=\r\n"
                    "TRAIL=two blanks  \r\n"
                    "LEAD= \t lead\r\n"
                    "EQ=a=b\r\n"
                    "[ SERVER ]\n"
                    "PORT=2323\n"
                    "[COM1]\n"
                    "NAME=duplicate section\n"
                    "EXTRA=from the second COM1\n"
                    "[LAST]\n"
                    "KEY=no line end");
    EXPECT_EQ(ReadString("COM1", "NAME", ini), "COM3");
    EXPECT_EQ(ReadString("Com1", "nAmE", ini), "COM3");
    EXPECT_EQ(ReadString("COM1", "EMPTY", ini), "") << "a present empty value is not the default";
    EXPECT_EQ(ReadString("COM1", "TRAIL", ini), "two blanks");
    EXPECT_EQ(ReadString("COM1", "LEAD", ini), "lead");
    EXPECT_EQ(ReadString("COM1", "EQ", ini), "a=b");
    EXPECT_EQ(ReadString("COM1", "EXTRA", ini), "from the second COM1");
    EXPECT_EQ(ReadString("COM1", ";NAME", ini), "<default>");
    EXPECT_EQ(GetPrivateProfileIntA("server", "port", 23, ini), 2323);
    EXPECT_EQ(ReadString("LAST", "KEY", ini), "no line end");
    EXPECT_EQ(ReadString("COM2", "NAME", ini), "<default>");
}

// Values are read as the Windows reader gives them: blanks and tabs at the
// end dropped, then one pair of enclosing quotes of one kind; quotes that do
// not enclose the whole value stay. Integers are read the same way.
TEST(Profile, ValuesLoseTrailingBlanksAndOnePairOfQuotes)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    WriteBytes(ini, "[A]\r\n"
                    "NAME=COM1 \r\n"
                    "Q2=\"COM2\"\r\n"
                    "Q1= 'C:\\log dir' \t\r\n"
                    "INNER=\" kept \"\r\n"
                    "TWICE=\"\"x\"\"\r\n"
                    "MIXED=\"x'\r\n"
                    "HALF=\"x\r\n"
                    "LONE=\"\r\n"
                    "EMPTY=\"\"\r\n"
                    "PORT= \"2323\" \r\n");
    EXPECT_EQ(ReadString("A", "NAME", ini), "COM1");
    EXPECT_EQ(ReadString("A", "Q2", ini), "COM2");
    EXPECT_EQ(ReadString("A", "Q1", ini), "C:\\log dir");
    EXPECT_EQ(ReadString("A", "INNER", ini), " kept ");
    EXPECT_EQ(ReadString("A", "TWICE", ini), "\"x\"") << "one pair only";
    EXPECT_EQ(ReadString("A", "MIXED", ini), "\"x'");
    EXPECT_EQ(ReadString("A", "HALF", ini), "\"x");
    EXPECT_EQ(ReadString("A", "LONE", ini), "\"");
    EXPECT_EQ(ReadString("A", "EMPTY", ini), "") << "present, so not the default";
    EXPECT_EQ(GetPrivateProfileIntA("A", "PORT", 23, ini), 2323);
    char buf[4];
    EXPECT_EQ(GetPrivateProfileStringA("A", "Q2", "", buf, sizeof buf, ini), 3u);
    EXPECT_STREQ(buf, "COM") << "cut after the quotes are gone";
}

// A text with a blank or a quote at either end is written inside double
// quotes and reads back exactly; any other text is written as it is.
TEST(Profile, TextsWithBlanksOrQuotesAtTheEndsReadBackExactly)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    const std::string texts[] = {" x", "x ", "\tx\t", "\"x\"", "'x", "x'", "\"", "\"\"", " ", "a b"};
    for (const std::string& text : texts) {
        ASSERT_TRUE(WritePrivateProfileStringA("TEXT", "AFTER", text, ini)) << "[" << text << "]";
        EXPECT_EQ(ReadString("TEXT", "AFTER", ini), text);
    }
    EXPECT_EQ(ReadBytes(ini), "[TEXT]\nAFTER=a b\n");
    ASSERT_TRUE(WritePrivateProfileStringA("TEXT", "AFTER", " x", ini));
    EXPECT_EQ(ReadBytes(ini), "[TEXT]\nAFTER=\" x\"\n");
}

// Section names compare bytes of double-byte characters exactly: the second
// byte of "ア" in CP932 (0x83 0x41) is the letter A, and must not match 'a'.
TEST(Profile, DoubleByteNamesCompareExactly)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    WriteBytes(ini, "[\x83\x41]\nK=upper\n[\x83\x61]\nK=lower\n[\x95\x5D]\nK=bracket trail\n");
    EXPECT_EQ(ReadString("\x83\x41", "K", ini), "upper");
    EXPECT_EQ(ReadString("\x83\x61", "K", ini), "lower");
    // 0x5D is ']' as a byte, but here the second byte of a character: the
    // header has no closing bracket, so this is no section.
    EXPECT_EQ(ReadString("\x95", "K", ini), "<default>");
}

// The integer rules: blanks, sign, digits up to the first non-digit,
// saturation, and 0 for a value that is not a number.
TEST(Profile, IntegerParsing)
{
    struct Case {
        const char* value;
        int expected;
    };
    const Case cases[] = {
        {"38400", 38400},
        {"-5", -5},
        {"+7", 7},
        {"  42", 42},
        {"\t9", 9},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"0x10", 0},
        {"1 2", 1},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", INT_MAX},
        {"99999999999999999999999", INT_MAX},
        {"-99999999999999999999999", INT_MIN},
    };
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    for (const Case& c : cases) {
        WriteBytes(ini, std::string("[TIME]\r\nKEEP=") + c.value + "\r\n");
        EXPECT_EQ(GetPrivateProfileIntA("TIME", "KEEP", 10, ini), c.expected)
            << "value \"" << c.value << "\"";
    }
}

// A carelessly saved file: a UTF-8 byte order mark, as an editor saving UTF-8
// writes it, does not hide the first section, and a write keeps it in its
// place; a number key whose value is no whole number still reads as its
// digits (0 for none), and stderr names the file, the section and the key.
TEST(Profile, CarelessFileReadsAsMeant)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    WriteBytes(ini, "\xEF\xBB\xBF[COM1]\r\nSPEED=fast\r\nDATA=8\r\nSTOP=2 bits\r\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetPrivateProfileIntA("COM1", "SPEED", 38400, ini), 0);
    EXPECT_EQ(GetPrivateProfileIntA("COM1", "DATA", 7, ini), 8);
    EXPECT_EQ(GetPrivateProfileIntA("COM1", "STOP", 1, ini), 2);
    const std::string named = "skiffa: not a number, read as 0 [" + ini + ": [COM1] SPEED=fast]\n" +
                              "skiffa: not a number, read as 2 [" + ini + ": [COM1] STOP=2 bits]\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), named);
    ASSERT_TRUE(WritePrivateProfileStringA("COM1", "SPEED", "9600", ini));
    EXPECT_EQ(ReadBytes(ini), "\xEF\xBB\xBF[COM1]\r\nSPEED=9600\r\nDATA=8\r\nSTOP=2 bits\r\n");
}

// The buffer variant cuts to size - 1 bytes, always terminates, and reports
// the count; the whole variant does not cut.
TEST(Profile, StringBufferIsCutToSize)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    const std::string longName(300, 'N');
    WriteBytes(ini, "[COM1]\nNAME=" + longName + "\n");
    char buf[260];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetPrivateProfileStringA("COM1", "NAME", "", buf, sizeof buf, ini), 259u);
    EXPECT_EQ(std::string(buf), longName.substr(0, 259));
    EXPECT_EQ(ReadString("COM1", "NAME", ini), longName);

    char one[1] = {'x'};
    EXPECT_EQ(GetPrivateProfileStringA("COM1", "NAME", "", one, 1, ini), 0u);
    EXPECT_EQ(one[0], '\0');
    char four[4];
    EXPECT_EQ(GetPrivateProfileStringA("COM9", "NAME", "default", four, 4, ini), 3u);
    EXPECT_STREQ(four, "def");
}

// Writes into a missing file create it with LF line ends, sections in the
// order of the writes, new keys at the end of their section.
TEST(Profile, WritesCreateFileInOrder)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    EXPECT_TRUE(WritePrivateProfileStringA("COM1", "NAME", "COM3", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("COM1", "SPEED", "9600", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("COM2", "NAME", "", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("SERVER", "PORT", "23", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("com1", "dsr", "1", ini));
    EXPECT_EQ(ReadBytes(ini), "[COM1]\nNAME=COM3\nSPEED=9600\ndsr=1\n[COM2]\nNAME=\n[SERVER]\nPORT=23\n");
    EXPECT_EQ(ReadString("COM2", "NAME", ini), "") << "an empty text leaves the key with an empty value";
    EXPECT_TRUE(OtherFiles(dir.Path(), {"korvo.ini"}).empty()) << "no temporary file left behind";
}

// A file from an existing installation: CR LF line ends, CP932 text, a
// comment, an unknown section, odd spacing. A write changes only the value
// bytes of its key; a new key takes the file's CR LF.
TEST(Profile, WriteKeepsEveryOtherByte)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    const std::string before = "; \x83\x52\x83\x81\x83\x93\x83\x67 comment\r\n"  // "コメント"
                               "[Com1]\r\n"
                               "Name = COM1\r\n"
                               "SPEED=38400\r\n"
                               "\r\n"
                               "; belongs to the next section\r\n"
                               "[Other]\r\n"
                               "Key=\x95\x5C\\n value  \r\n"
                               "[TEXT]\r\n"
                               "FULL=x";
    WriteBytes(ini, before);
    EXPECT_TRUE(WritePrivateProfileStringA("COM1", "SPEED", "9600", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("COM1", "NAME", "COM4", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("COM1", "DSR", "0", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("TEXT", "AFTER", "ATH", ini));
    EXPECT_TRUE(WritePrivateProfileStringA("LOG", "DIR", "/var/log", ini));
    const std::string expected = "; \x83\x52\x83\x81\x83\x93\x83\x67 comment\r\n"
                                 "[Com1]\r\n"
                                 "Name = COM4\r\n"
                                 "SPEED=9600\r\n"
                                 "DSR=0\r\n"
                                 "\r\n"
                                 "; belongs to the next section\r\n"
                                 "[Other]\r\n"
                                 "Key=\x95\x5C\\n value  \r\n"
                                 "[TEXT]\r\n"
                                 "FULL=x\r\n"
                                 "AFTER=ATH\r\n"
                                 "[LOG]\r\n"
                                 "DIR=/var/log\r\n";
    EXPECT_EQ(ReadBytes(ini), expected);
}

// Texts that would break the file's lines or make the key unreadable are
// refused, and the file stays as it was.
TEST(Profile, RefusesWritesThatWouldBreakTheFile)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    const std::string before = "[LOG]\nDIR=/tmp\n";
    WriteBytes(ini, before);
    struct Case {
        std::string section, key, text;
    };
    const Case cases[] = {
        {"LOG", "DIR", "/tmp\n[COM1]\nNAME=COM9"},
        {"LOG", "DIR", "a\rb"},
        {"LOG", "DIR", std::string("a\0b", 3)},
        {"LO]G", "DIR", "x"},
        {"LOG", "D=IR", "x"},
        {"LOG", ";DIR", "x"},
        {"LOG", " DIR", "x"},
        {"LOG\x81", "DIR", "x"},  // a lone lead byte would swallow the ']'
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(WritePrivateProfileStringA(c.section, c.key, c.text, ini)) << c.section << "/" << c.key;
        EXPECT_EQ(ReadBytes(ini), before) << c.section << "/" << c.key;
    }
}

// The replacement keeps the file's permission bits and a symbolic link.
TEST(Profile, ReplacementKeepsPermissionsAndLinks)
{
    TempDir dir;
    const std::string real = dir.File("real.ini");
    const std::string link = dir.File("korvo.ini");
    WriteBytes(real, "[SERVER]\nPORT=23\n");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real.ini", link);

    EXPECT_TRUE(WritePrivateProfileStringA("SERVER", "PORT", "2323", link));
    EXPECT_TRUE(fs::is_symlink(link)) << "the link is kept";
    EXPECT_EQ(ReadBytes(real), "[SERVER]\nPORT=2323\n");
    EXPECT_EQ(fs::status(real).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(OtherFiles(dir.Path(), {"real.ini", "korvo.ini"}).empty());
}

// A write that cannot complete leaves the old file whole: here the file size
// limit stands in for a full disk, and a missing folder for one that cannot be
// written. No temporary file stays behind.
TEST(Profile, FailedWriteLeavesOldFile)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    const std::string before = "[TEXT]\nFULL=short\n";
    WriteBytes(ini, before);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const BOOL written = WritePrivateProfileStringA("TEXT", "FULL", std::string(1000, 'F'), ini);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written) << "a write cut short is reported";
    EXPECT_EQ(ReadBytes(ini), before);
    EXPECT_TRUE(OtherFiles(dir.Path(), {"korvo.ini"}).empty());

    EXPECT_FALSE(WritePrivateProfileStringA("SERVER", "PORT", "23", dir.File("missing/korvo.ini")));
    EXPECT_FALSE(fs::exists(dir.File("missing")));
}

// Files that are not INI files at all load as defaults where nothing matches,
// without crashing or hanging: binary bytes, a 10 MB line, lines without '='.
TEST(Profile, JunkFilesReadSafely)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");

    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary.push_back(static_cast<char>(i * 37 % 256));
    WriteBytes(ini, binary);
    EXPECT_EQ(GetPrivateProfileIntA("SERVER", "PORT", 23, ini), 23);

    std::string huge = "[COM1]\n" + std::string(10 * 1024 * 1024, '[') + "\nNAME=COM2\n";
    WriteBytes(ini, huge);
    EXPECT_EQ(ReadString("COM1", "NAME", ini), "COM2");
    EXPECT_TRUE(WritePrivateProfileStringA("COM1", "SPEED", "9600", ini));
    EXPECT_EQ(GetPrivateProfileIntA("COM1", "SPEED", 0, ini), 9600);
    EXPECT_EQ(ReadBytes(ini).size(), huge.size() + std::string("SPEED=9600\n").size());

    WriteBytes(ini, "[SERVER]\nPORT\nno equals sign here\n[TIME\nKEEP=5\n");
    EXPECT_EQ(GetPrivateProfileIntA("SERVER", "PORT", 23, ini), 23);
    EXPECT_EQ(GetPrivateProfileIntA("TIME", "KEEP", 10, ini), 10) << "\"[TIME\" opens no section";
    EXPECT_EQ(GetPrivateProfileIntA("SERVER", "KEEP", 10, ini), 5);
}

// Random files built from the bytes that matter to the parser: every read
// returns, and every write either is refused with the file unchanged or sets
// its key and changes no other key's value.
TEST(Profile, RandomFilesReadAndWriteConsistently)
{
    TempDir dir;
    const std::string ini = dir.File("korvo.ini");
    std::mt19937 rng(20190101);
    const std::string alphabet = "[]=;\r\n \tAaKk1\x81\x5C\x95\x5D\xE0\xFC\xFF";
    const std::vector<std::string> names = {"A", "a", "K", "k1", "AK", "", "\x81\x5C", "\x95\x5D", "A\x81"};
    const std::vector<std::string> values = {"",
                                             "1",
                                             "v v ",
                                             "\x95\x5C"
                                             "n",
                                             "[A]",
                                             "x=y"};

    auto pick = [&rng](const std::vector<std::string>& from) {
        return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng)];
    };
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const size_t length = std::uniform_int_distribution<size_t>(0, 120)(rng);
        for (size_t i = 0; i < length; ++i)
            text.push_back(alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)]);
        WriteBytes(ini, text);

        // What every probe reads before the write.
        std::vector<std::pair<std::string, std::string>> probes;
        std::vector<std::string> before;
        for (const std::string& s : names)
            for (const std::string& k : names) {
                probes.emplace_back(s, k);
                before.push_back(ReadString(s, k, ini));
                (void)GetPrivateProfileIntA(s, k, 0, ini);
            }

        const std::string section = pick(names), key = pick(names), value = pick(values);
        const bool written = WritePrivateProfileStringA(section, key, value, ini);
        if (!written) {
            EXPECT_EQ(ReadBytes(ini), text) << "round " << round;
            continue;
        }
        EXPECT_EQ(ReadString(section, key, ini), value) << "round " << round;
        for (size_t i = 0; i < probes.size(); ++i) {
            const auto& [s, k] = probes[i];
            if (SameName(s, section) && SameName(k, key))
                continue;  // the key written, perhaps spelt in another case
            EXPECT_EQ(ReadString(s, k, ini), before[i])
                << "round " << round << ": writing " << section << "/" << key << " changed " << s << "/" << k;
        }
    }
}

namespace {

// Many keys written through one writer leave exactly the bytes the same
// writes leave one by one, comments, unknown keys and CR LF included, and the
// file is replaced once: a refused write changes nothing in either.
TEST(ProfileWriter, OneCommitGivesTheBytesOfKeyByKeyWrites)
{
    TempDir dir;
    const std::string start = "; a comment\r\n[COM1]\r\nNAME=COM1\r\nOWN=kept\r\n\r\n[OTHER]\r\nX = 1 \r\n";
    WriteBytes(dir.File("one.ini"), start);
    WriteBytes(dir.File("batch.ini"), start);
    std::mt19937 rng(7);
    const char* sections[] = {"COM1", "com2", "TEXT", "OTHER", "bad]section"};
    const char* keys[] = {"NAME", "SPEED", "x", "AFTER", "=bad"};
    const char* values[] = {"", "38400", " padded ", "\"quoted\"", "line\nbreak", "\x83\x5C"};
    ProfileWriter batch(dir.File("batch.ini"));
    for (int i = 0; i < 300; ++i) {
        const std::string section = sections[rng() % 5], key = keys[rng() % 5], value = values[rng() % 6];
        const BOOL alone = WritePrivateProfileStringA(section, key, value, dir.File("one.ini"));
        ASSERT_EQ(batch.WriteString(section, key, value), alone) << section << "/" << key << "=" << value;
    }
    EXPECT_EQ(ReadBytes(dir.File("batch.ini")), start) << "nothing is written before the commit";
    ASSERT_TRUE(batch.Commit());
    EXPECT_EQ(ReadBytes(dir.File("batch.ini")), ReadBytes(dir.File("one.ini")));
    EXPECT_EQ(OtherFiles(dir.Path(), {"one.ini", "batch.ini"}), std::vector<std::string>{});
}

// A commit that cannot replace the file says so and leaves nothing behind.
// One over a file that cannot be read leaves it as it is (a rewrite from
// nothing would lose its other lines) and names it on stderr with the reason.
TEST(ProfileWriter, FailedCommitIsReported)
{
    TempDir dir;
    ProfileWriter writer(dir.File("missing-folder/korvo.ini"));
    ASSERT_TRUE(writer.WriteString("SERVER", "PORT", "23"));
    EXPECT_FALSE(writer.Commit());
    EXPECT_FALSE(fs::exists(dir.File("missing-folder")));

    const std::string unreadable = dir.File("korvo.ini");
    fs::create_directory(unreadable);
    ProfileWriter over(unreadable);
    EXPECT_FALSE(over.WriteString("SERVER", "PORT", "23"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(over.Commit());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "skiffa: cannot write the file [" + unreadable + ": Is a directory]\n");
    EXPECT_TRUE(fs::is_directory(unreadable));
}

// Where the folder takes no new file but the file itself is writable, a save
// rewrites the file in place, keeps every other byte, and says so on stderr.
// The file's name is one the file system takes but that a temporary name
// built on it exceeds: that refuses the temporary file for root as well.
TEST(ProfileWriter, SaveWithoutTemporaryFileRewritesInPlace)
{
    TempDir dir;
    const long nameMax = ::pathconf(dir.Path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(nameMax, 8);
    const std::string ini = dir.File(std::string(static_cast<size_t>(nameMax) - 4, 'k') + ".ini");
    WriteBytes(ini, "; kept\r\n[SERVER]\r\nPORT=23\r\n[TEXT]\r\nAFTER=bye\r\n");

    ProfileWriter writer(ini);
    ASSERT_TRUE(writer.WriteString("SERVER", "PORT", "2323"));
    ASSERT_TRUE(writer.WriteString("LOG", "DIR", "/var/log/skiffa"));
    testing::internal::CaptureStderr();
    const BOOL saved = writer.Commit();
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(saved);
    EXPECT_EQ(ReadBytes(ini),
              "; kept\r\n[SERVER]\r\nPORT=2323\r\n[TEXT]\r\nAFTER=bye\r\n[LOG]\r\nDIR=/var/log/skiffa\r\n");
    EXPECT_NE(err.find("rewritten in place [" + ini + ": File name too long]\n"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(OtherFiles(dir.Path(), {fs::path(ini).filename().string()}), std::vector<std::string>{});
}

}  // namespace
