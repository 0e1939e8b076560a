// The data exchange's pure rules: reading an integer from an edit's text, and
// formatting the framework's messages from the string table it was handed.
#include <climits>
#include <gtest/gtest.h>
#include <string>

#include "platform/windows/afxstrings.h"
#include "platform/system/cp932.h"
#include "platform/windows/ddx.h"

namespace {

const char* TestTable(unsigned id)
{
    switch (id) {
    case 1: return "%1 から %2 までの整数を入力してください。";
    case 2: return "%2/%1 %3 100% %%1";
    default: return nullptr;
    }
}

}  // namespace

TEST(ParseDialogInt, ReadsAsPercentDFromTheFirst63Bytes)
{
    struct Case {
        std::string text;
        bool read;
        int value;
    };
    const std::vector<Case> cases = {
        {"42", true, 42},
        {"+5", true, 5},
        {"\r\n\t 3 4", true, 3},
        {"007x", true, 7},
        {"2147483647", true, INT_MAX},
        {"2147483648", true, INT_MAX},  // beyond the range: its nearest end, never a wrapped value
        {"4294967296", true, INT_MAX},
        {"99999999999999999999", true, INT_MAX},
        {"-2147483648", true, INT_MIN},
        {"-4294967297", true, INT_MIN},
        {std::string(62, ' ') + "5", true, 5},
        {std::string(63, ' ') + "5", false, 0},  // the digit lies past the 63 bytes read
        {std::string(62, '0') + "12", true, 1},
        {"", false, 0},
        {"+", false, 0},
        {"-", false, 0},
        {"+-1", false, 0},
        {"x1", false, 0},
        {cp932::FromUtf8("１２"), false, 0},  // full-width digits are not digits
    };
    for (const Case& c : cases) {
        int value = -77;
        EXPECT_EQ(ParseDialogInt(c.text, value), c.read) << '"' << c.text << '"';
        EXPECT_EQ(value, c.read ? c.value : -77) << '"' << c.text << "\": untouched unless read";
    }
}

TEST(AfxFormatString2, FillsOneAndTwoFromTheHandedTable)
{
    AfxSetStringTable(&TestTable);
    EXPECT_EQ(AfxFormatString2(1, "0", "10000"),
              cp932::FromUtf8("0 から 10000 までの整数を入力してください。"));
    EXPECT_EQ(AfxFormatString2(2, "a", "b"), "b/a %3 100% %a");
    EXPECT_EQ(AfxLoadString(3), "") << "an id the table lacks";
    AfxSetStringTable(nullptr);
    EXPECT_EQ(AfxLoadString(1), "") << "no table";
}
