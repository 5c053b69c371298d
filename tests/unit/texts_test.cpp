#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "platform/texts.h"

namespace {

std::string fromCodePage932(const std::string& text) {
    iconv_t converter = iconv_open("UTF-8", "CP932");
    EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1));
    std::string in = text;
    std::string out(text.size() * 4, '\0');
    char* inPointer = &in[0];
    char* outPointer = &out[0];
    std::size_t inLeft = in.size(), outLeft = out.size();
    EXPECT_NE(iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft),
              static_cast<std::size_t>(-1))
        << text;
    iconv_close(converter);
    out.resize(out.size() - outLeft);
    return out;
}

// The Windows console bytes must say exactly what the UTF-8 texts say.
TEST(ConsoleTexts, ShiftJisTableIsTheUtf8TableInCodePage932) {
    const texts::ConsoleTexts& utf8 = texts::kUtf8;
    const texts::ConsoleTexts& sjis = texts::kShiftJis;
    EXPECT_EQ(fromCodePage932(sjis.usage), utf8.usage);
    EXPECT_EQ(fromCodePage932(sjis.example), utf8.example);
    EXPECT_EQ(fromCodePage932(sjis.outputFile), utf8.outputFile);
    EXPECT_EQ(fromCodePage932(sjis.prompt), utf8.prompt);
    EXPECT_EQ(fromCodePage932(sjis.processing), utf8.processing);
}

TEST(ConsoleTexts, Utf8TableHoldsTheJapaneseTexts) {
    EXPECT_STREQ(texts::kUtf8.usage, "使用法: %s 署名用Pin 出力ファイル名\n\n");
    EXPECT_STREQ(texts::kUtf8.example, " 例： %s 97531 .\\mysign.crt\n");
    EXPECT_STREQ(texts::kUtf8.outputFile, "出力ファイル = %s\n\n");
    EXPECT_STREQ(texts::kUtf8.prompt, "よろしいですか？(y/N):");
    EXPECT_STREQ(texts::kUtf8.processing, "\n処理中...\n");
}

}  // namespace
