// The one place that knows Windows from POSIX. Everything above this layer is plain C++.
//
// Each side keeps one file per job, platform/posix/ and platform/windows/: module.cpp (finding and
// loading the module), arguments.cpp, terminal.cpp or console.cpp (the raw terminal or console),
// keys.cpp (the PIN and the one-key answer), pem_file.cpp, output.cpp; Windows adds encoding.cpp,
// double_click.cpp and start_menu.cpp (linked into certexport-console.exe alone). What both sides
// share is plain C++ beside this header, tested natively: pin_line (the PIN prompt's rules),
// pin_text (full-width forms), key_event (which console key events type), command_line and
// double_click (Windows rules), texts (the Japanese texts, once, in UTF-8).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

#ifdef _WIN32
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

// The token module file in the directory of the running executable (symbolic links resolved).
NativePath moduleBesideExecutable();

bool fileExists(const NativePath& path);

using LibraryHandle = void*;

// Null on failure; lastLoadError() then tells why, as a number.
LibraryHandle loadLibrary(const NativePath& path);
unsigned long lastLoadError();
void* findSymbol(LibraryHandle library, const char* name);
bool unloadLibrary(LibraryHandle library);

// After the loader refused the module as no image it can load (Windows' ERROR_BAD_EXE_FORMAT, 193):
// one line in the tool's texts that says what the module is, read from its PE headers, and that
// OpenSC's x64 module is needed. Nothing after any other error, and nothing on POSIX, where the
// loader names the fault itself.
void explainRefusedModule(const NativePath& path, unsigned long loadError);

// A command-line argument exactly as typed, for use as a path: on Windows it comes from the wide
// command line, so a name outside the ANSI code page keeps every character.
NativePath pathArgument(char* argv[], int index);

// Masks a command-line argument with '*' where other processes can read it (the process's own
// argument area on POSIX, the command-line buffers on Windows) and in the runtime's copies of it.
void maskCommandLineArgument(char* argv[], int index);

// The PIN argument as it goes to the card: full-width forms turned into ASCII, in the bytes of the
// command line (on Windows taken from the wide one, then in the ANSI code page). Its buffer is on
// the heap, so that moving the string hands over the bytes that get erased.
std::string pinArgument(char* argv[], int index);

// Shows the prompt and reads the PIN typed without echo at the terminal (the console on Windows),
// or the first line of standard input when that is neither, by the rules of platform/pin_line.h;
// ends the prompt's line. The prompt also shows on the terminal (console) where the keys are
// typed when standard output goes elsewhere. In the bytes of the command line (on Windows the ANSI
// code page); empty when nothing was entered: an empty line, end of input, Ctrl+C, or a line that
// is no PIN.
std::string readPin(const char* prompt);

// How many characters the bytes of a PIN hold, up to its first zero byte: its masked echo.
std::size_t characterCount(const std::string& pin);

// One key press without echo and without Enter: its character, a full-width form as ASCII, read
// whole; -1 at end of input.
int readConfirmationKey();

// Drops the keys typed ahead on a terminal or console, so that only a key pressed after what is
// shown next answers it. Piped input is left alone.
void discardTypedAhead();

// PEM text of a DER certificate, every line ended by a line feed alone.
std::optional<std::string> encodeCertificatePem(const std::vector<unsigned char>& der);

// A day of the calendar, in local time.
struct CalendarDate {
    int year;
    int month;  // 1 to 12
    int day;    // 1 to 31
};

// One end of a certificate's validity: the instant, to compare with the clock, and its local day.
struct ValidityBound {
    long long secondsSince1970;  // UTC
    CalendarDate localDate;
};

// What a certificate says of itself. Names are UTF-8, empty where the name has no common name.
struct CertificateFacts {
    std::string holder;  // the subject's common name
    std::string issuer;  // the issuer's common name
    ValidityBound validFrom;
    ValidityBound validUntil;
};

// Decodes a DER certificate (OpenSSL on POSIX, the CryptoAPI on Windows); nothing when the bytes
// are not one.
std::optional<CertificateFacts> describeCertificate(const std::vector<unsigned char>& der);

enum class WriteResult { Written, OpenFailed, WriteFailed };

// Recreates the file with the text, each line feed written as carriage return and line feed.
// Written only when every byte reached the file and the file was closed without error.
WriteResult writeTextFile(const NativePath& path, const std::string& text);

// Standard output. Formats, and values of `print`, are the tool's own texts (UTF-8) and English.
// On POSIX, and redirected on Windows, it gets exactly the bytes that printf and std::cout write,
// the Japanese texts in Shift_JIS there. On a Windows console each message goes out as UTF-16
// through the console API instead, so it reads the same on a console of any code page; the
// console's state is left alone.
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// With one `%s` for bytes from outside the tool, a PIN or a label. A Windows console reads them
// as UTF-8 where they are valid UTF-8 (as labels are), else in the ANSI code page (as arguments).
void printText(const char* format, const std::string& text);
// With one `%s` for a path. Redirected on Windows it is written in the ANSI code page, with '?' for
// a character outside it; a console shows it exactly.
void printPath(const char* format, const NativePath& path);
// The line, an end of line and a flush through the standard output stream (std::cout), which
// shares its buffer with printf's.
void printLine(const char* line);

// Overwrites memory in a way the compiler may not drop, for secrets about to be freed.
void eraseSecret(void* data, std::size_t size);

// After the usage of a run with the wrong number of arguments. When Explorer started the tool (a
// double-click, a file dropped on it) and its output is that console: says in the user's language
// that this is a command-line tool and how to start it, and waits for a key before the window
// closes. Nothing in any other run, and nothing on POSIX, where the tool is started from a shell.
void explainDoubleClick();

#ifdef _WIN32
// The Start-menu entry's program (certexport-console.exe alone): a console in the Documents folder
// of whoever opens it, with a guide in the user's language, running cmd.exe until it ends; gives
// cmd's exit code.
int openConsoleInDocuments();
#endif

}  // namespace platform
