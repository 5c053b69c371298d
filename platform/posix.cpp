#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/pem.h>
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

namespace {

// Terminal settings to put back if a signal ends the process during the key read.
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

int readOneByte() {
    unsigned char byte = 0;
    ssize_t got;
    do {
        got = read(STDIN_FILENO, &byte, 1);
    } while (got < 0 && errno == EINTR);
    return got == 1 ? byte : -1;
}

}  // namespace

int readConfirmationKey() {
    std::fflush(stdout);
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0) {
        return readOneByte();
    }
    const int handled[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
    struct sigaction restoring = {};
    restoring.sa_handler = restoreTerminalAndReraise;
    struct sigaction previous[sizeof handled / sizeof handled[0]];
    for (std::size_t i = 0; i < sizeof handled / sizeof handled[0]; ++i) {
        sigaction(handled[i], &restoring, &previous[i]);
    }
    struct termios raw = savedTerminal;
    raw.c_lflag &= ~(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    terminalIsRaw = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    const int key = readOneByte();
    restoreTerminal();
    for (std::size_t i = 0; i < sizeof handled / sizeof handled[0]; ++i) {
        sigaction(handled[i], &previous[i], nullptr);
    }
    return key;
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
