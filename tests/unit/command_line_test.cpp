#include <gtest/gtest.h>

#include <string>

#include "platform/command_line.h"

namespace {

template <typename Text>
Text masked(Text line, int index) {
    platform::maskArgumentInCommandLine(&line[0], index, typename Text::value_type('*'));
    return line;
}

// The span masked must be the argument the runtime gave the tool, quotes and escapes included,
// and nothing of the arguments around it.
TEST(CommandLineMask, MasksTheArgumentAsTheRuntimeSplitsTheLine) {
    EXPECT_EQ(masked<std::string>("certexport.exe 97531 out.pem", 1),
              "certexport.exe ***** out.pem");
    EXPECT_EQ(masked<std::wstring>(L"\"C:\\Program Files\\certexport.exe\" 97531 out.pem", 1),
              L"\"C:\\Program Files\\certexport.exe\" ***** out.pem");
    EXPECT_EQ(masked<std::string>("\"prog\"97531 out.pem", 1), "\"prog\"***** out.pem");
    EXPECT_EQ(masked<std::string>("prog \t\"97 531\"\t\"my out.pem\"", 1),
              "prog \t********\t\"my out.pem\"");
    // \" is a quote in the text; \\" is a backslash, then a quote that closes.
    EXPECT_EQ(masked<std::string>(R"(prog 97\"5 31 out.pem)", 1), R"(prog ***** 31 out.pem)");
    EXPECT_EQ(masked<std::string>(R"(prog "9\\" 7 out.pem)", 1), R"(prog ***** 7 out.pem)");
    // msvcrt: two quotes inside a quoted part are one quote, and close the part.
    EXPECT_EQ(masked<std::string>(R"(prog "9""7 5" out.pem)", 1), R"(prog ***** 5" out.pem)");
    // Outside one they open and close an empty part.
    EXPECT_EQ(masked<std::string>(R"(prog 9""7 5 out.pem)", 1), R"(prog **** 5 out.pem)");
    EXPECT_EQ(masked<std::string>("prog 97531 out.pem", 2), "prog 97531 *******");
}

TEST(CommandLineMask, MaskingAgainChangesNothingAndAMissingArgumentIsLeftAlone) {
    const std::string once = masked<std::string>("prog \"9 7\" out.pem", 1);
    EXPECT_EQ(masked(once, 1), once);
    std::string line = "prog  ";
    EXPECT_FALSE(platform::maskArgumentInCommandLine(&line[0], 1, '*'));
    EXPECT_EQ(line, "prog  ");
}

}  // namespace
