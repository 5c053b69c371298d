#include "platform/posix/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace platform {
namespace {

// The settings the tool found and those of its raw mode, for the signal handlers.
struct termios savedTerminal;
struct termios rawTerminal;
volatile sig_atomic_t terminalIsRaw = 0;

void restoreTerminal() {
    if (terminalIsRaw) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    }
}

// Only from the foreground: a job continued in the background must not take the terminal.
void makeRawAgain() {
    if (terminalIsRaw && tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        tcsetattr(STDIN_FILENO, TCSANOW, &rawTerminal);
    }
}

void install(int signalNumber, void (*handler)(int), struct sigaction* previous) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigfillset(&action.sa_mask);
    sigaction(signalNumber, &action, previous);
}

// The signal's own end, with the terminal as it was: the signal is blocked in its handler and
// arrives again, with its default action, when the handler returns.
void restoreAndEnd(int signalNumber) {
    restoreTerminal();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Stops with the terminal as it was, and takes it up again when continued (in an orphaned process
// group, which does not stop, at once).
void stopWithTerminalRestored(int signalNumber) {
    const int savedErrno = errno;
    restoreTerminal();
    signal(signalNumber, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, signalNumber);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(signalNumber);
    install(signalNumber, stopWithTerminalRestored, nullptr);
    makeRawAgain();
    errno = savedErrno;
}

// Continued after a stop the tool could not see coming (SIGSTOP).
void resumeRaw(int) {
    const int savedErrno = errno;
    makeRawAgain();
    errno = savedErrno;
}

// What the tool does with each signal while the terminal is raw: nothing with those that neither
// end nor stop the process, nor with those it cannot catch.
void (*handlerFor(int signalNumber))(int) {
    switch (signalNumber) {
        case SIGKILL:
        case SIGSTOP:
        case SIGCHLD:
        case SIGURG:
        case SIGWINCH:
        case SIGTTIN:
        case SIGTTOU:
            return nullptr;
        case SIGCONT:
            return resumeRaw;
        case SIGTSTP:
            return stopWithTerminalRestored;
        default:
            return restoreAndEnd;
    }
}

// Ctrl+C, Ctrl+\, a closed terminal and a plain kill end a prompt even where the tool was started
// with them ignored (a shell's background job ignores Ctrl+C); any other signal found ignored stays
// so.
bool endsThePromptAlways(int signalNumber) {
    return signalNumber == SIGINT || signalNumber == SIGQUIT || signalNumber == SIGHUP ||
           signalNumber == SIGTERM;
}

bool sameDevice(int first, int second) {
    struct stat a, b;
    return fstat(first, &a) == 0 && fstat(second, &b) == 0 && S_ISCHR(a.st_mode) &&
           S_ISCHR(b.st_mode) && a.st_rdev == b.st_rdev;
}

}  // namespace

RawTerminal::RawTerminal(bool signalKeys) {
    raw_ = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    if (!raw_) {
        return;
    }
    rawTerminal = savedTerminal;
    rawTerminal.c_lflag &= ~(ICANON | ECHO);
    if (!signalKeys) {
        rawTerminal.c_lflag &= ~ISIG;
    }
    rawTerminal.c_cc[VMIN] = 1;
    rawTerminal.c_cc[VTIME] = 0;
    terminalIsRaw = 1;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        void (*handler)(int) = handlerFor(signalNumber);
        handled_[signalNumber] =
            handler && sigaction(signalNumber, nullptr, &previous_[signalNumber]) == 0 &&
            (previous_[signalNumber].sa_handler != SIG_IGN || endsThePromptAlways(signalNumber));
        if (handled_[signalNumber]) {
            install(signalNumber, handler, nullptr);
        }
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &rawTerminal);
}

RawTerminal::~RawTerminal() {
    if (!raw_) {
        return;
    }
    restoreTerminal();
    terminalIsRaw = 0;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (handled_[signalNumber]) {
            sigaction(signalNumber, &previous_[signalNumber], nullptr);
        }
    }
}

bool byteWaiting() {
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 50) == 1;
}

int readOneByte() {
    unsigned char byte = 0;
    ssize_t got;
    do {
        got = read(STDIN_FILENO, &byte, 1);
    } while (got < 0 && errno == EINTR);
    return got == 1 ? byte : -1;
}

void showWhereKeysAreTyped(const char* text) {
    const char* terminal = isatty(STDIN_FILENO) ? ttyname(STDIN_FILENO) : nullptr;
    if (!terminal || sameDevice(STDIN_FILENO, STDOUT_FILENO)) {
        return;
    }
    const int output = open(terminal, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (output >= 0) {
        const ssize_t written = write(output, text, std::strlen(text));
        static_cast<void>(written);  // a prompt that cannot be shown changes nothing else
        close(output);
    }
}

void discardTypedAhead() {
    if (isatty(STDIN_FILENO)) {
        tcflush(STDIN_FILENO, TCIFLUSH);
    }
}

}  // namespace platform
