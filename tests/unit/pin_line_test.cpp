#include "platform/pin_line.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/key_event.h"

namespace {

// The PIN that the keys give, fed as a terminal's bytes or a console's UTF-16 characters.
template <typename Keys>
std::string typed(const Keys& keys) {
    std::string pin;
    platform::PinLineEditor editor(pin);
    for (auto c : keys) {
        if constexpr (sizeof c == 1) {
            editor.key(static_cast<unsigned char>(c));
        } else {
            editor.utf16(c);
        }
    }
    return editor.state() == platform::PinEntry::Entered ? pin : "<refused>";
}

TEST(PinLine, KeysEditTheLine) {
    EXPECT_EQ(typed(std::string("署名\x7f"
                                "1\t\r")),
              "署1");  // a whole character taken back
    EXPECT_EQ(typed(std::string("12\x04\r")), "<refused>");
    EXPECT_EQ(typed(std::string("12\x1a\r")), "<refused>");
    // Ctrl+Backspace on a console; a surrogate pair is one character, a lone surrogate none.
    EXPECT_EQ(typed(std::u16string(u"9\U0001F511x\x7f\xD83D"
                                   "7\r")),
              "9\xF0\x9F\x94\x91"
              "7");
}

// Arrow and function keys, as terminals and a console's virtual-terminal input send them.
TEST(PinLine, EscapeSequencesTypeNothing) {
    EXPECT_EQ(typed(std::string("1\x1b[1;5C2\x1bOP3\x1bx4\r")), "1234");
    EXPECT_EQ(typed(std::u16string(u"1\x1b[A2\r")), "12");
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
}

bool isPipedPin(const std::string& input) {
    std::size_t next = 0;
    std::string line;
    return platform::readPipedLine(
               line,
               [&] {
                   return next < input.size() ? static_cast<unsigned char>(input[next++]) : -1;
               }) &&
           platform::trimPipedLine(line);
}

TEST(PinLine, PipedLinesAreMeasuredWithoutWhatComesWithThem) {
    EXPECT_TRUE(isPipedPin("\xEF\xBB\xBF" + std::string(256, '1') + "  \r\n"));
    EXPECT_FALSE(isPipedPin(std::string(257, '1') + "\n"));
    EXPECT_FALSE(isPipedPin("975\r31\n"));  // the CR of a line end, mid-line, would cut it short
}

// Alt with the number pad types on Alt's release; a held key repeats.
TEST(KeyEvent, CharactersOfConsoleKeyEvents) {
    EXPECT_EQ(platform::typedCount(true, 'A', u'a', 3), 3u);
    EXPECT_EQ(platform::typedCount(true, 'A', u'a', 0), 1u);
    EXPECT_EQ(platform::typedCount(false, 'A', u'a', 1), 0u);
    EXPECT_EQ(platform::typedCount(false, platform::kAltKey, u'９', 1), 1u);
    EXPECT_EQ(platform::typedCount(true, 0x25, 0, 1),
              0u);  // an arrow without virtual-terminal input
}

}  // namespace
