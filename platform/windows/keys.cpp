// The keys: the PIN typed at the console or piped in, and the one-key answer, both read from the
// console's key events (as composed by an input method, in any code page).
#include <cstdio>

#include "platform/key_event.h"
#include "platform/pin_line.h"
#include "platform/pin_text.h"
#include "platform/platform.h"
#include "platform/windows/console.h"
#include "platform/windows/encoding.h"

namespace platform {
namespace {

constexpr wchar_t kEscape = 0x1B;

unsigned timesTyped(const KEY_EVENT_RECORD& key) {
    return typedCount(key.bKeyDown != FALSE, key.wVirtualKeyCode, key.uChar.UnicodeChar,
                      key.wRepeatCount);
}

void readConsoleLine(const RawConsoleInput& console, PinLineEditor& editor) {
    KEY_EVENT_RECORD key;
    while (editor.state() == PinEntry::Open) {
        if (!console.nextKey(key)) {
            editor.end();
            return;
        }
        for (unsigned n = timesTyped(key); n > 0; --n) {
            editor.utf16(key.uChar.UnicodeChar);
        }
        if (key.uChar.UnicodeChar == kEscape && !console.eventWaiting()) {
            editor.pause();
        }
    }
}

int readRedirectedByte() {
    char c = 0;
    DWORD got = 0;
    return ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) && got == 1
               ? static_cast<unsigned char>(c)
               : -1;
}

// The line's length is checked in bytes before its code page is guessed: UTF-8 where it is valid
// UTF-8, else the ANSI code page.
void readRedirectedPin(PinLineEditor& editor) {
    std::string line;
    if (!readPipedLine(line, readRedirectedByte) || !trimPipedLine(line)) {
        editor.end();
    } else if (codePageOf(line) == CP_UTF8) {
        for (char c : line) {
            editor.key(static_cast<unsigned char>(c));
        }
    } else {
        std::wstring text = widened(CP_ACP, line);
        for (wchar_t c : text) {
            editor.utf16(c);
        }
        eraseSecret(&text[0], text.size() * sizeof(wchar_t));
    }
    editor.key('\n');
    eraseSecret(&line[0], line.size());
}

}  // namespace

std::string readPin(const char* prompt) {
    std::string typed;
    {
        PinLineEditor editor(typed);
        // Raw before the prompt shows, so that no key typed at it is echoed.
        const RawConsoleInput console(ConsoleKeys::Pin);
        print("%s", prompt);
        std::fflush(stdout);
        showWhereKeysAreTyped(prompt);
        if (console.isConsole()) {
            readConsoleLine(console, editor);
        } else {
            readRedirectedPin(editor);
        }
    }
    showWhereKeysAreTyped("\n");
    print("\n");
    std::wstring text = widened(CP_UTF8, typed);
    eraseSecret(&typed[0], typed.size());
    return pinInAnsiCodePage(text);
}

std::size_t characterCount(const std::string& pin) {
    const UINT codePage = GetACP();
    if (codePage == CP_UTF8) {
        return utf8CharacterCount(pin);
    }
    std::size_t count = 0;
    for (std::size_t i = 0; i < pin.size() && pin[i]; ++i, ++count) {
        if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(pin[i])) && i + 1 < pin.size()) {
            ++i;
        }
    }
    return count;
}

int readConfirmationKey() {
    const RawConsoleInput console(ConsoleKeys::Answer);
    std::fflush(stdout);
    KEY_EVENT_RECORD key;
    while (console.isConsole() && console.nextKey(key)) {
        if (timesTyped(key) > 0) {
            return static_cast<int>(foldedFullWidthForm(key.uChar.UnicodeChar));
        }
    }
    return -1;
}

}  // namespace platform
