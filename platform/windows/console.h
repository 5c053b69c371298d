// The console: its input without echo for the PIN and the one-key answer, and its output in UTF-16.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

enum class ConsoleKeys {
    Pin,     // standard input's console; Ctrl+C and Ctrl+Break end the prompt as a refusal
    Answer,  // the process's console, whatever standard input is, as _getch reads it; Ctrl+C is a
             // key
};

// The console's input without echo or line editing while the object lives. Its mode is put back on
// every way out, Ctrl+C and Ctrl+Break included, which the console reports as events.
class RawConsoleInput {
  public:
    explicit RawConsoleInput(ConsoleKeys keys);
    ~RawConsoleInput();
    RawConsoleInput(const RawConsoleInput&) = delete;
    RawConsoleInput& operator=(const RawConsoleInput&) = delete;

    bool isConsole() const { return saved_; }

    // The next key event; false when the console cannot be read.
    bool nextKey(KEY_EVENT_RECORD& key) const;
    // Whether another event waits (the rest of a key's sequence).
    bool eventWaiting() const;

  private:
    HANDLE input_;
    bool owned_;
    DWORD mode_ = 0;
    bool saved_ = false;
};

bool outputIsConsole();

// Writes the text to the console as UTF-16, so it reads the same on a console of any code page.
void writeConsole(const std::wstring& text);

// Writes the text (UTF-8) to the console where the keys are typed when standard input is the
// console and standard output is not, so that a prompt shows there, as ssh and sudo prompt.
void showWhereKeysAreTyped(const char* text);

// Whether the guides of a double-click and of the Start-menu entry are in Japanese, as the
// installer chooses its language.
bool displayLanguageIsJapanese();

}  // namespace platform
