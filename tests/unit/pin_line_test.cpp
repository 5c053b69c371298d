#include "platform/pin_line.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/key_event.h"

namespace {

using platform::PinEntry;

// The PIN that the keys, fed one byte at a time, give; "<refused>" when they refuse it.
std::string typed(const std::string& keys) {
    std::string pin;
    platform::PinLineEditor editor(pin);
    for (unsigned char c : keys) {
        editor.key(c);
    }
    return editor.state() == PinEntry::Entered ? pin : "<refused>";
}

// The same, for a console's UTF-16 key characters.
std::string typedOnConsole(const std::u16string& keys) {
    std::string pin;
    platform::PinLineEditor editor(pin);
    for (char16_t c : keys) {
        editor.utf16(c);
    }
    return editor.state() == PinEntry::Entered ? pin : "<refused>";
}

TEST(PinLine, KeysEditTheLine) {
    EXPECT_EQ(typed("97531\r"), "97531");
    EXPECT_EQ(typed("9x\b7\x7f\x7f"
                    "7531\n"),
              "7531");
    EXPECT_EQ(typed("署名\x7f"
                    "1\r"),
              "署1");                           // a whole character is taken back
    EXPECT_EQ(typed("９７５３１\r"), "97531");  // full-width forms, as an input method types them
    EXPECT_EQ(typed("\x7f"
                    "1\t2\r"),
              "12");  // nothing to take back; other control keys type nothing
    EXPECT_EQ(typed("12\x03"
                    "3\r"),
              "<refused>");
    EXPECT_EQ(typed("12\x04\r"), "<refused>");
    EXPECT_EQ(typed("12\x1a\r"), "<refused>");
}

// Arrow and function keys, as terminals and the console's virtual-terminal input send them.
TEST(PinLine, EscapeSequencesTypeNothing) {
    EXPECT_EQ(typed("1\x1b[D2\x1b[1;5C3\x1bOP4\x1b"
                    "x5\r"),
              "12345");
    EXPECT_EQ(typedOnConsole(u"1\x1b[A2\r"), "12");
    // Escape pressed alone: the next key is typed, not swallowed as the rest of a sequence.
    std::string pin;
    platform::PinLineEditor editor(pin);
    editor.key(0x1b);
    editor.pause();
    editor.key('5');
    editor.key('\r');
    EXPECT_EQ(pin, "5");
}

// A line that grew past the limit is no PIN, whatever was taken back before Enter.
TEST(PinLine, ALineThatEverGrewTooLongIsRefused) {
    EXPECT_EQ(typed(std::string(256, '1') + "\r"), std::string(256, '1'));
    EXPECT_EQ(typed(std::string(300, '1') + std::string(50, '\b') + "\r"), "<refused>");
    EXPECT_EQ(typed(std::string(257, '1') + "\x7f\r"), "<refused>");
}

// What a console gives: UTF-16 characters, Ctrl+Backspace as DEL.
TEST(PinLine, ConsoleCharactersAreUtf8) {
    EXPECT_EQ(typedOnConsole(u"９7x\x7f\U0001F511\r"), "97\xF0\x9F\x94\x91");
    EXPECT_EQ(typedOnConsole(u"1\xD83D"
                             "2\xDC11"
                             "3\r"),
              "123");  // lone surrogates
    EXPECT_EQ(typedOnConsole(u"\U0001F511\x7f"
                             "1\r"),
              "1");
}

std::string piped(const std::string& input, bool* isPin = nullptr, std::string* rest = nullptr) {
    std::size_t next = 0;
    std::string line;
    const bool pin =
        platform::readPipedLine(
            line,
            [&] { return next < input.size() ? static_cast<unsigned char>(input[next++]) : -1; }) &&
        platform::trimPipedLine(line);
    if (isPin) {
        *isPin = pin;
    }
    if (rest) {
        *rest = input.substr(next);
    }
    return line;
}

TEST(PinLine, PipedLinesLoseTheirByteOrderMarkLineEndAndTrailingBlanks) {
    bool isPin = false;
    std::string rest;
    EXPECT_EQ(piped("\xEF\xBB\xBF"
                    "97531 \t\r\ny",
                    &isPin, &rest),
              "97531");
    EXPECT_TRUE(isPin);
    EXPECT_EQ(rest, "y");  // the key after it stays for the question
    EXPECT_EQ(piped(" 9 7 \n"), " 9 7");
    piped(std::string(256, '1') + "  \r\n", &isPin);
    EXPECT_TRUE(isPin);
}

TEST(PinLine, PipedLinesThatAreNoPinAreRefusedByTheirBytes) {
    bool isPin = true;
    std::string rest;
    const std::string japanese = "あいうえお";  // 15 bytes, 5 characters
    std::string longLine;
    for (int i = 0; i < 20; ++i) {
        longLine += japanese;
    }
    piped(longLine + "\ny", &isPin, &rest);
    EXPECT_FALSE(isPin);
    EXPECT_EQ(rest, "y");
    piped(std::string(257, '1') + "\n", &isPin);
    EXPECT_FALSE(isPin);
    piped(std::string("975\0"
                      "31\n",
                      6),
          &isPin);
    EXPECT_FALSE(isPin);
    piped("975\r31\n", &isPin);
    EXPECT_FALSE(isPin);
}

// Alt with the number pad types on Alt's release; a held key repeats.
TEST(KeyEvent, CharactersOfConsoleKeyEvents) {
    constexpr unsigned short kLetterKey = 0x41;
    EXPECT_EQ(platform::typedCount(true, kLetterKey, u'a', 1), 1u);
    EXPECT_EQ(platform::typedCount(true, kLetterKey, u'a', 3), 3u);
    EXPECT_EQ(platform::typedCount(true, kLetterKey, u'a', 0), 1u);
    EXPECT_EQ(platform::typedCount(false, kLetterKey, u'a', 1), 0u);
    EXPECT_EQ(platform::typedCount(false, platform::kAltKey, u'９', 1), 1u);
    EXPECT_EQ(platform::typedCount(true, 0x25, 0, 1),
              0u);  // an arrow without virtual-terminal input
}

}  // namespace
