// The terminal on standard input, shared by the PIN prompt and the one-key question.
#pragma once

#include <signal.h>

namespace platform {

// Standard input, when it is a terminal, in raw mode without echo for the object's life. Every
// signal that ends the process puts the terminal back first; a stop (Ctrl+Z) shows the shell the
// terminal as it was, and a continued prompt is raw again. Without signal keys, Ctrl+C arrives as a
// byte. Of the signals that the tool was started with ignored, only those a user sends to end it
// (Ctrl+C, Ctrl+\, SIGHUP, SIGTERM) end the prompt; the others stay ignored.
class RawTerminal {
  public:
    explicit RawTerminal(bool signalKeys);
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    bool isRaw() const { return raw_; }

  private:
    struct sigaction previous_[NSIG];
    bool handled_[NSIG] = {};
    bool raw_ = false;
};

// Whether a byte can be read from standard input within a moment (the rest of a key's sequence).
bool byteWaiting();

// The next byte of standard input; -1 at its end.
int readOneByte();

// Writes the text to the terminal on standard input when standard output is not that terminal (a
// file, a pipe, another terminal), so that a prompt shows where the keys are typed, as ssh and sudo
// prompt.
void showWhereKeysAreTyped(const char* text);

}  // namespace platform
