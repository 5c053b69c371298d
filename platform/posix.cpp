#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/pem.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include "platform/pin_text.h"
#include "platform/platform.h"

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace platform {
namespace {

const char kModuleFileName[] = "opensc-pkcs11.so";

std::string executablePath() {
#ifdef __APPLE__
    char raw[PATH_MAX];
    uint32_t size = sizeof raw;
    if (_NSGetExecutablePath(raw, &size) != 0) {
        return std::string();
    }
    const char* link = raw;
#else
    const char* link = "/proc/self/exe";
#endif
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(link, nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

NativePath moduleBesideExecutable() {
    const std::string executable = executablePath();
    const std::string::size_type slash = executable.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : executable.substr(0, slash);
    return directory + "/" + kModuleFileName;
}

bool fileExists(const NativePath& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

namespace {
int loadError = 0;
}

LibraryHandle loadLibrary(const NativePath& path) {
    errno = 0;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    loadError = library ? 0 : errno;
    if (!library) {
        // The loader's reason rarely fits in a number; standard output keeps its fixed line.
        std::fprintf(stderr, "%s\n", dlerror());
    }
    return library;
}

unsigned long lastLoadError() {
    return static_cast<unsigned long>(loadError);
}

void* findSymbol(LibraryHandle library, const char* name) {
    return dlsym(library, name);
}

bool unloadLibrary(LibraryHandle library) {
    return dlclose(library) == 0;
}

NativePath pathArgument(char* argv[], int index) {
    return argv[index];
}

void maskCommandLineArgument(char* argv[], int index) {
    // argv points into the argument area that /proc/<pid>/cmdline and ps show.
    std::fill(argv[index], argv[index] + std::strlen(argv[index]), '*');
}

std::string pinArgument(char* argv[], int index) {
    std::string pin;
    pin.reserve(std::max(std::strlen(argv[index]), sizeof(std::string)));
    pin.assign(argv[index]);
    foldFullWidthFormsUtf8(pin);
    return pin;
}

namespace {

// Terminal settings to put back if a signal ends the process while the terminal is raw.
struct termios savedTerminal;
volatile sig_atomic_t terminalIsRaw = 0;

void restoreTerminal() {
    if (terminalIsRaw) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
        terminalIsRaw = 0;
    }
}

void restoreTerminalAndReraise(int signalNumber) {
    restoreTerminal();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Standard input, when it is a terminal, in raw mode without echo for the object's life, and put
// back on every path, an ending signal included. Without signal keys, Ctrl+C arrives as a byte.
class RawTerminal {
  public:
    explicit RawTerminal(bool signalKeys) {
        raw_ = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
        if (!raw_) {
            return;
        }
        struct sigaction restoring = {};
        restoring.sa_handler = restoreTerminalAndReraise;
        for (std::size_t i = 0; i < kSignals; ++i) {
            sigaction(kHandled[i], &restoring, &previous_[i]);
        }
        struct termios raw = savedTerminal;
        raw.c_lflag &= ~(ICANON | ECHO);
        if (!signalKeys) {
            raw.c_lflag &= ~ISIG;
        }
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        terminalIsRaw = 1;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    ~RawTerminal() {
        if (!raw_) {
            return;
        }
        restoreTerminal();
        for (std::size_t i = 0; i < kSignals; ++i) {
            sigaction(kHandled[i], &previous_[i], nullptr);
        }
    }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    bool isRaw() const { return raw_; }

  private:
    static constexpr int kHandled[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
    static constexpr std::size_t kSignals = sizeof kHandled / sizeof kHandled[0];
    struct sigaction previous_[kSignals];
    bool raw_ = false;
};

int readOneByte() {
    unsigned char byte = 0;
    ssize_t got;
    do {
        got = read(STDIN_FILENO, &byte, 1);
    } while (got < 0 && errno == EINTR);
    return got == 1 ? byte : -1;
}

// More than any card's PIN: a longer line is not a PIN (a file piped in by mistake), and the
// buffer reserved for one byte more never moves, so no copy of the PIN is left behind.
constexpr std::size_t kMaxPinBytes = 256;

void appendPinByte(std::string& pin, int byte) {
    if (pin.size() <= kMaxPinBytes) {
        pin += static_cast<char>(byte);
    }
}

// Takes back the last character, a UTF-8 lead byte and its continuation bytes. They are zeroed, as
// the PIN's buffer is erased only up to its size.
void takeBackCharacter(std::string& pin) {
    while (!pin.empty()) {
        const bool lead = !isUtf8Continuation(pin.back());
        pin.back() = '\0';
        pin.pop_back();
        if (lead) {
            return;
        }
    }
}

// A key such as an arrow sends Escape and a sequence at once (ESC [ A); none of it is typed text.
void skipEscapeSequence() {
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    const auto pending = [&input] { return poll(&input, 1, 50) == 1; };
    if (!pending()) {
        return;
    }
    const int introducer = readOneByte();
    if (introducer != '[' && introducer != 'O') {
        return;
    }
    for (int c; pending() && (c = readOneByte()) >= 0;) {
        if (introducer == 'O' || (c >= 0x40 && c <= 0x7E)) {
            return;
        }
    }
}

// The keys typed up to Enter on a raw terminal; false for Ctrl+C, Ctrl+D and the end of input.
bool readTypedLine(std::string& pin) {
    constexpr int kCtrlC = 0x03, kCtrlD = 0x04, kEscape = 0x1B, kDelete = 0x7F;
    for (;;) {
        const int c = readOneByte();
        switch (c) {
            case -1:
            case kCtrlC:
            case kCtrlD:
                return false;
            case '\r':
            case '\n':
                return true;
            case '\b':
            case kDelete:
                takeBackCharacter(pin);
                break;
            case kEscape:
                skipEscapeSequence();
                break;
            default:
                if (c >= 0x20) {
                    appendPinByte(pin, c);
                }
        }
    }
}

// The first line of standard input, without its line end; read byte by byte, so that what follows
// stays for the confirmation key. False for a line holding a zero byte, which no PIN does.
bool readLine(std::string& pin) {
    bool text = true;
    for (int c; (c = readOneByte()) >= 0 && c != '\n';) {
        text = text && c != 0;
        appendPinByte(pin, c);
    }
    if (!pin.empty() && pin.back() == '\r') {
        takeBackCharacter(pin);
    }
    return text;
}

}  // namespace

std::string readPin() {
    std::fflush(stdout);
    std::string pin;
    pin.reserve(kMaxPinBytes + 1);
    bool entered = false;
    {
        const RawTerminal terminal(false);
        entered = terminal.isRaw() ? readTypedLine(pin) : readLine(pin);
    }
    if (!entered || pin.size() > kMaxPinBytes) {
        eraseSecret(&pin[0], pin.size());
        pin.clear();
    }
    foldFullWidthFormsUtf8(pin);
    return pin;
}

std::size_t characterCount(const std::string& pin) {
    return utf8CharacterCount(pin);
}

int readConfirmationKey() {
    std::fflush(stdout);
    const RawTerminal terminal(true);
    return readOneByte();
}

std::optional<std::string> encodeCertificatePem(const std::vector<unsigned char>& der) {
    std::unique_ptr<BIO, decltype(&BIO_free)> memory(BIO_new(BIO_s_mem()), &BIO_free);
    // Nothing to encode is a failure, as for the Windows encoder.
    if (der.empty() || !memory || der.size() > static_cast<std::size_t>(LONG_MAX) ||
        PEM_write_bio(memory.get(), "CERTIFICATE", "", der.data(), static_cast<long>(der.size())) <=
            0) {
        return std::nullopt;
    }
    BUF_MEM* text = nullptr;
    BIO_get_mem_ptr(memory.get(), &text);
    return std::string(text->data, text->length);
}

WriteResult writeTextFile(const NativePath& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w+");
    if (!file) {
        return WriteResult::OpenFailed;
    }
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 32);
    for (char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    const bool written = std::fwrite(crlf.data(), 1, crlf.size(), file) == crlf.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed ? WriteResult::Written : WriteResult::WriteFailed;
}

void print(const char* format, ...) {
    va_list values;
    va_start(values, format);
    std::vprintf(format, values);
    va_end(values);
}

void printText(const char* format, const std::string& text) {
    std::printf(format, text.c_str());
}

void printPath(const char* format, const NativePath& path) {
    printText(format, path);
}

void printLine(const char* line) {
    std::cout << line << std::endl;
}

void eraseSecret(void* data, std::size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

void explainDoubleClick() {}

}  // namespace platform
