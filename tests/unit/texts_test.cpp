#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "platform/texts.h"

namespace {

// What the Windows build has always written for each text, redirected: its code page 932 bytes.
const texts::ConsoleTexts kShiftJisBytes = {
    "\x8e"
    "g\x97p\x96@: %s \x8f\x90\x96\xbc\x97pPin \x8fo\x97\xcd\x83t\x83@\x83"
    "C\x83\x8b\x96\xbc"
    "\n\n",
    " \x97\xe1\x81"
    "F %s 97531 .\\mysign.crt\n",
    "\x8fo\x97\xcd\x83t\x83@\x83"
    "C\x83\x8b = %s\n\n",
    "\x82\xe6\x82\xeb\x82\xb5\x82\xa2\x82\xc5\x82\xb7\x82\xa9\x81H(y/N):",
    "\n\x8f\x88\x97\x9d\x92\x86...\n",
    "\x8f\x90\x96\xbc\x97pPIN\x81i\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x82\xe0\x95\\\x8e\xa6\x82"
    "\xb3\x82\xea\x82\xdc\x82\xb9\x82\xf1\x81j:",
    "\x8f\x90\x96\xbc\x97pPIN\x82\xcd\x88\xc8\x91O\x82\xc9\x8a\xd4\x88\xe1\x82\xc1\x82\xc4"
    "\x93\xfc\x97\xcd\x82\xb3\x82\xea\x82\xbd\x82\xb1\x82\xc6\x82\xaa\x82\xa0\x82\xe8\x81"
    "A\x8e"
    "c\x82\xe8\x82\xcc\x93\xfc\x97\xcd\x89\xf1\x90\x94\x82\xaa\x8c\xb8\x82\xc1\x82\xc4\x82"
    "\xa2\x82\xdc\x82\xb7\x81"
    "B\n",
    "\x8f\x90\x96\xbc\x97pPIN\x82\xcc\x8e"
    "c\x82\xe8\x82\xcc\x93\xfc\x97\xcd\x89\xf1\x90\x94\x82\xcd\x82\xa0\x82\xc6"
    "1\x89\xf1\x82\xc5\x82\xb7\x81"
    "B\x8a\xd4\x88\xe1\x82\xa6\x82\xe9\x82\xc6\x83\x8d\x83"
    "b\x83N\x82\xb3\x82\xea\x81"
    "A\x83J\x81[\x83h\x82\xcc\x94\xad\x8ds\x8c\xb3\x82\xc5\x89\xf0\x8f\x9c\x82\xb7\x82\xe9"
    "\x82\xdc\x82\xc5\x8eg\x82\xa6\x82\xc8\x82\xad\x82\xc8\x82\xe8\x82\xdc\x82\xb7\x81"
    "B\n",
    "\x8f\x90\x96\xbc\x97pPIN\x82\xcd\x83\x8d\x83"
    "b\x83N\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xe9\x82\xbd\x82\xdf\x81"
    "A\x83\x8d\x83O\x83"
    "C\x83\x93\x82\xb5\x82\xdc\x82\xb9\x82\xf1\x81"
    "B\x83\x8d\x83"
    "b\x83N\x82\xcc\x89\xf0\x8f\x9c\x82\xcd\x83J\x81[\x83h\x82\xcc\x94\xad\x8ds\x8c\xb3\x82"
    "\xc5\x8ds\x82\xc1\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81"
    "B\n",
    "\x8f\x90\x96\xbc\x97pPIN\x82\xcc\x8e"
    "c\x82\xe8\x82\xcc\x93\xfc\x97\xcd\x89\xf1\x90\x94\x82\xcd\x82\xa0\x82\xc6"
    "1\x89\xf1\x82\xc5\x82\xb7\x81"
    "B\x8e\x9f\x82\xc9\x8a\xd4\x88\xe1\x82\xa6\x82\xe9\x82\xc6\x83\x8d\x83"
    "b\x83N\x82\xb3\x82\xea\x82\xdc\x82\xb7\x81"
    "B\n",
    "\x8f\x90\x96\xbc\x97pPIN\x82\xcd\x83\x8d\x83"
    "b\x83N\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81"
    "B\x83\x8d\x83"
    "b\x83N\x82\xcc\x89\xf0\x8f\x9c\x82\xcd\x83J\x81[\x83h\x82\xcc\x94\xad\x8ds\x8c\xb3\x82"
    "\xc5\x8ds\x82\xc1\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81"
    "B\n",
    "\x83J\x81[\x83h\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb7\x82\xaa\x81"
    "A\x93\xc7\x82\xdd\x8e\xe6\x82\xea\x82\xdc\x82\xb9\x82\xf1\x81"
    "B\x8f\x90\x96\xbc\x97pPIN\x82\xaa\x83\x8d\x83"
    "b\x83N\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xe9\x82\xb1\x82\xc6\x82\xaa\x8c\xb4\x88\xf6"
    "\x82\xcc"
    "1\x82\xc2\x82\xc5\x82\xb7\x81"
    "B\n",
};

std::string inCodePage932(const std::string& text) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1));
    std::string in = text;
    std::string out(text.size() * 2, '\0');
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

// The texts are written once, in UTF-8; the Windows build makes their Shift_JIS from them, which
// must stay the bytes it always wrote.
TEST(ConsoleTexts, InCodePage932TheyAreTheBytesTheToolAlwaysWrote) {
    const texts::ConsoleTexts& text = texts::console();
    for (const char* texts::ConsoleTexts::*field :
         {&texts::ConsoleTexts::usage, &texts::ConsoleTexts::example,
          &texts::ConsoleTexts::outputFile, &texts::ConsoleTexts::prompt,
          &texts::ConsoleTexts::processing, &texts::ConsoleTexts::pinPrompt,
          &texts::ConsoleTexts::pinTriedBefore, &texts::ConsoleTexts::pinFinalTry,
          &texts::ConsoleTexts::pinLocked, &texts::ConsoleTexts::pinNowFinalTry,
          &texts::ConsoleTexts::pinNowLocked, &texts::ConsoleTexts::unreadableCard}) {
        EXPECT_EQ(inCodePage932(text.*field), kShiftJisBytes.*field) << text.*field;
    }
}

TEST(ConsoleTexts, TheyHoldTheJapaneseTexts) {
    const texts::ConsoleTexts& text = texts::console();
    EXPECT_STREQ(text.usage, "使用法: %s 署名用Pin 出力ファイル名\n\n");
    EXPECT_STREQ(text.example, " 例： %s 97531 .\\mysign.crt\n");
    EXPECT_STREQ(text.outputFile, "出力ファイル = %s\n\n");
    EXPECT_STREQ(text.prompt, "よろしいですか？(y/N):");
    EXPECT_STREQ(text.processing, "\n処理中...\n");
}

// The line after "LoadLibrary Error c1" names each kind of module, and the output can write it.
TEST(ConsoleTexts, TheRefusedModuleLineNamesTheKindInCodePage932) {
    using platform::ModuleKind;
    for (const auto& [kind, name] : {std::pair{ModuleKind::NotWindowsDll, "の DLL ではありません"},
                                     {ModuleKind::X86, "（x86）用"},
                                     {ModuleKind::X64, "x64 用"},
                                     {ModuleKind::Arm64, "ARM64 用"},
                                     {ModuleKind::Arm64EC, "ARM64EC 用"},
                                     {ModuleKind::Arm64X, "ARM64X（"},
                                     {ModuleKind::Other, "以外"}}) {
        const std::string line = texts::refusedModule(kind);
        EXPECT_NE(line.find(name), std::string::npos) << line;
        inCodePage932(line);
    }
}

}  // namespace
