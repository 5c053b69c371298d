// The keys: the PIN typed at the terminal or piped in, and the one-key answer.
#include <cstdio>

#include "platform/pin_line.h"
#include "platform/pin_text.h"
#include "platform/platform.h"
#include "platform/posix/terminal.h"

namespace platform {
namespace {

constexpr unsigned char kEscape = 0x1B;

void readTypedLine(PinLineEditor& editor) {
    while (editor.state() == PinEntry::Open) {
        const int c = readOneByte();
        if (c < 0) {
            editor.end();
            return;
        }
        editor.key(static_cast<unsigned char>(c));
        if (c == kEscape && !byteWaiting()) {
            editor.pause();
        }
    }
}

void readPipedPin(PinLineEditor& editor) {
    std::string line;
    if (readPipedLine(line, readOneByte) && trimPipedLine(line)) {
        for (char c : line) {
            editor.key(static_cast<unsigned char>(c));
        }
        editor.key('\n');
    } else {
        editor.end();
    }
    eraseSecret(&line[0], line.size());
}

// A whole UTF-8 character, so that nothing of it is left for the shell; on a terminal only the
// bytes that came with its first, so that a stray byte does not wait for more keys.
char32_t readCharacter(int lead, bool fromTerminal) {
    if (lead < 0xC0) {
        return static_cast<char32_t>(lead);
    }
    const int following = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t c = static_cast<char32_t>(lead & (0x3F >> following));
    for (int i = 0; i < following; ++i) {
        const int next = !fromTerminal || byteWaiting() ? readOneByte() : -1;
        if (next < 0 || !isUtf8Continuation(static_cast<char>(next))) {
            return static_cast<char32_t>(lead);
        }
        c = c << 6 | static_cast<char32_t>(next & 0x3F);
    }
    return c;
}

}  // namespace

std::string readPin(const char* prompt) {
    print("%s", prompt);
    std::fflush(stdout);
    showWhereKeysAreTyped(prompt);
    std::string pin;
    {
        PinLineEditor editor(pin);
        const RawTerminal terminal(false);
        if (terminal.isRaw()) {
            readTypedLine(editor);
        } else {
            readPipedPin(editor);
        }
    }
    showWhereKeysAreTyped("\n");
    print("\n");
    return pin;
}

std::size_t characterCount(const std::string& pin) {
    return utf8CharacterCount(pin);
}

int readConfirmationKey() {
    std::fflush(stdout);
    const RawTerminal terminal(true);
    const int key = readOneByte();
    return key < 0 ? key
                   : static_cast<int>(foldedFullWidthForm(readCharacter(key, terminal.isRaw())));
}

}  // namespace platform
