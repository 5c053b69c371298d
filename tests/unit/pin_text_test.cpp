#include <gtest/gtest.h>

#include <string>

#include "platform/pin_text.h"

namespace {

std::string folded(std::string text) {
    platform::foldFullWidthFormsUtf8(text);
    return text;
}

// What an input method types with full-width letters, digits and signs, and the bytes around it.
TEST(PinText, FullWidthFormsBecomeAscii) {
    EXPECT_EQ(folded("！ＡＺａｚ～"), "!AZaz~");
    EXPECT_EQ(folded("1２3"), "123");
    // Next to the range (U+FF00, U+FF5F), other text, and a sequence cut short stay as they are.
    EXPECT_EQ(folded("\xef\xbc\x80\xef\xbd\x9f"), "\xef\xbc\x80\xef\xbd\x9f");
    EXPECT_EQ(folded("署名　ｱ"), "署名　ｱ");
    EXPECT_EQ(folded("1\xef\xbc"), "1\xef\xbc");

    std::u16string wide = u"９７５３１ＡＺａｚ！～\uff00\uff5f　";
    platform::foldFullWidthForms(wide);
    EXPECT_EQ(wide, u"97531AZaz!~\uff00\uff5f　");
}

TEST(PinText, CharactersAreCountedUpToTheFirstZeroByte) {
    EXPECT_EQ(platform::utf8CharacterCount("署名1"), 3u);
    EXPECT_EQ(platform::utf8CharacterCount(std::string("12\0"
                                                       "34",
                                                       5)),
              2u);
    EXPECT_EQ(platform::utf8CharacterCount(""), 0u);
}

}  // namespace
