// The rules of the PIN prompt, written once for every way keys arrive: typed on a terminal or a
// console, or a line piped in. Plain C++ without system calls, tested natively; the platforms only
// feed it keys.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// More than any card's PIN: a longer line is no PIN (a file piped in by mistake, a key held down).
constexpr std::size_t kMaxPinBytes = 256;

enum class PinEntry { Open, Entered, Refused };

// Builds the PIN, as UTF-8 bytes, in a string whose buffer it reserves once and never moves, so
// that no copy is left behind; whatever it takes back or refuses is zeroed first.
//   - printable characters are added; full-width forms become ASCII when the line is entered;
//   - Backspace and Ctrl+Backspace (DEL) take back one character;
//   - Enter ends the line; Ctrl+C, Ctrl+D, Ctrl+Z and the end of input refuse it;
//   - a line that ever grew past kMaxPinBytes is refused, whatever was taken back after;
//   - escape sequences (arrow and function keys) and other control keys type nothing.
class PinLineEditor {
  public:
    explicit PinLineEditor(std::string& pin);

    // One byte of the keys typed.
    PinEntry key(unsigned char byte);
    // One UTF-16 unit of the keys typed (a console's); a surrogate pair makes one character, and a
    // lone surrogate types nothing.
    PinEntry utf16(char16_t unit);
    // No further key is waiting: an Escape pressed alone ends here, not with the next key.
    void pause() { escape_ = Escape::None; }
    // The input ended without Enter.
    PinEntry end() { return refuse(); }

    PinEntry state() const { return state_; }

  private:
    enum class Escape { None, Started, ControlSequence, SingleShift };

    bool skippedInSequence(unsigned char byte);
    void add(unsigned char byte);
    void takeBack();
    PinEntry enter();
    PinEntry refuse();

    std::string& pin_;
    char16_t highSurrogate_ = 0;
    Escape escape_ = Escape::None;
    bool overflowed_ = false;
    PinEntry state_ = PinEntry::Open;
};

// What a piped line may hold before it is trimmed: a PIN, a byte-order mark, a CR and a few blanks.
constexpr std::size_t kMaxPipedLineBytes = kMaxPinBytes + 8;

// The first line of piped input, without its line feed, read with `nextByte` (a byte, or -1 at the
// end of input) one byte at a time, so that what follows stays for the one-key question. It keeps
// no more than kMaxPipedLineBytes in a buffer reserved once; false for a longer line.
template <typename NextByte>
bool readPipedLine(std::string& line, NextByte nextByte) {
    line.reserve(kMaxPipedLineBytes);
    bool fits = true;
    for (int c; (c = nextByte()) >= 0 && c != '\n';) {
        if (line.size() < kMaxPipedLineBytes) {
            line += static_cast<char>(c);
        } else {
            fits = false;
        }
    }
    return fits;
}

// A line piped in, without its line feed, made ready for the editor: a leading UTF-8 byte-order
// mark (Notepad writes one), and the CR of its line end and trailing blanks and tabs (cmd's `echo
// 97531 | ...` sends one) are dropped, in place, the bytes left behind zeroed. False when it is no
// PIN: longer than kMaxPinBytes, or holding a zero byte or another control character, which would
// cut the PIN short or edit it where no one sees it.
bool trimPipedLine(std::string& line);

}  // namespace platform
