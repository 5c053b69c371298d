#include <windows.h>
// Included after windows.h, which they need.
#include <conio.h>
#include <corecrt_startup.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iostream>

#include "platform/command_line.h"
#include "platform/double_click.h"
#include "platform/pin_text.h"
#include "platform/platform.h"

// msvcrt's wide twin of the split that gives main its arguments; MinGW-w64 declares it only for its
// own start-up code.
struct StartupInfo {
    int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* count, wchar_t*** arguments, wchar_t*** environment,
                                      int expandWildcards, StartupInfo* info);

namespace platform {
namespace {

// The code page of the tool's own texts.
constexpr UINT kShiftJis = 932;

std::wstring widened(UINT codePage, const std::string& bytes, DWORD flags = 0) {
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
    std::wstring text(length, L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), size, &text[0], length);
    return text;
}

std::string narrowed(UINT codePage, const std::wstring& text, DWORD flags = 0) {
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(length, '\0');
    WideCharToMultiByte(codePage, flags, text.data(), size, &bytes[0], length, nullptr, nullptr);
    return bytes;
}

// The code page of bytes from outside the tool: UTF-8 where they are valid UTF-8, as PKCS#11 labels
// are, else the ANSI code page, in which the command line gives text.
UINT codePageOf(const std::string& bytes) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                               static_cast<int>(bytes.size()), nullptr, 0) > 0
               ? CP_UTF8
               : CP_ACP;
}

// Masks entry `index` of a null-terminated argument list, if it has one.
template <typename Char, typename Length>
void maskListedArgument(Char** list, int index, Length length) {
    if (!list) {
        return;
    }
    for (int i = 0; i <= index; ++i) {
        if (!list[i]) {
            return;
        }
    }
    std::fill(list[index], list[index] + length(list[index]), Char('*'));
}

}  // namespace

NativePath moduleBesideExecutable() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A cut-off name, or a directory with no room for the file name, gives an empty path (reported
    // as not found) rather than the directory or a truncated one.
    if (length == 0 || length >= MAX_PATH || !PathRemoveFileSpecW(path) ||
        !PathAppendW(path, L".\\opensc-pkcs11.dll")) {
        return NativePath();
    }
    return path;
}

bool fileExists(const NativePath& path) {
    return PathFileExistsW(path.c_str()) != FALSE;
}

LibraryHandle loadLibrary(const NativePath& path) {
    return reinterpret_cast<LibraryHandle>(LoadLibraryW(path.c_str()));
}

unsigned long lastLoadError() {
    return GetLastError();
}

void* findSymbol(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool unloadLibrary(LibraryHandle library) {
    return FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
}

NativePath pathArgument(char* argv[], int index) {
    // Split as the narrow arguments are, without wildcards. This also sets __wargv, which the PIN's
    // mask then covers.
    int count = 0;
    wchar_t** arguments = nullptr;
    wchar_t** environment = nullptr;
    StartupInfo info = {0};
    if (__wgetmainargs(&count, &arguments, &environment, 0, &info) == 0 && arguments &&
        index < count) {
        return arguments[index];
    }
    return widened(CP_ACP, argv[index]);
}

namespace {

// More than any card's PIN: a longer line is not a PIN (a file piped in by mistake), and the
// buffers reserved for one character more never move, so no copy of the PIN is left behind.
constexpr std::size_t kMaxPinCharacters = 256;

void eraseWide(std::wstring& text) {
    SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
}

// The PIN in the ANSI code page, as the command line has always given it, with full-width forms
// turned into ASCII first. The wide text is erased.
std::string pinInAnsiCodePage(std::wstring& text) {
    foldFullWidthForms(text);
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string pin;
    pin.reserve(std::max<std::size_t>(length, sizeof(std::string)));
    pin.resize(length);
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, &pin[0], length, nullptr, nullptr);
    eraseWide(text);
    return pin;
}

// Ctrl+C and Ctrl+Break at the prompt come as console events: they end the run as a refusal.
BOOL WINAPI refuseOnBreak(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    print("\n");
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(-1));
}

// The console's input without echo or line editing while the object lives, Ctrl+C and
// Ctrl+Break handled as console events (a console without that handling may keep Ctrl+C from the
// keys, as Wine's on a terminal does).
class RawConsoleInput {
  public:
    RawConsoleInput() : input_(GetStdHandle(STD_INPUT_HANDLE)) {
        saved_ = GetConsoleMode(input_, &mode_) != FALSE;
        if (saved_) {
            SetConsoleMode(input_, (mode_ | ENABLE_PROCESSED_INPUT) &
                                       ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
            SetConsoleCtrlHandler(refuseOnBreak, TRUE);
        }
    }
    ~RawConsoleInput() {
        if (saved_) {
            SetConsoleCtrlHandler(refuseOnBreak, FALSE);
            SetConsoleMode(input_, mode_);
        }
    }
    RawConsoleInput(const RawConsoleInput&) = delete;
    RawConsoleInput& operator=(const RawConsoleInput&) = delete;

    bool isConsole() const { return saved_; }

    // The character of the next key pressed: as composed by an input method, in any code page;
    // 0 for a key without one (an arrow, a function key), WEOF when the console cannot be read.
    wint_t nextCharacter() const {
        INPUT_RECORD record;
        DWORD read = 0;
        while (ReadConsoleInputW(input_, &record, 1, &read) && read == 1) {
            if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
                return record.Event.KeyEvent.uChar.UnicodeChar;
            }
        }
        return WEOF;
    }

  private:
    HANDLE input_;
    DWORD mode_ = 0;
    bool saved_ = false;
};

// Takes back the last character, both halves of a surrogate pair, zeroed.
void takeBackCharacter(std::wstring& typed) {
    if (!typed.empty() && IS_LOW_SURROGATE(typed.back()) && typed.size() > 1) {
        typed.back() = L'\0';
        typed.pop_back();
    }
    if (!typed.empty()) {
        typed.back() = L'\0';
        typed.pop_back();
    }
}

// The keys typed on the console up to Enter, without echo; false for Ctrl+Z and the end of input.
bool readConsoleLine(const RawConsoleInput& console, std::wstring& typed) {
    constexpr wint_t kCtrlZ = 0x1A;
    for (;;) {
        const wint_t c = console.nextCharacter();
        switch (c) {
            case WEOF:
            case kCtrlZ:
                return false;
            case L'\r':
            case L'\n':
                return true;
            case L'\b':
                takeBackCharacter(typed);
                break;
            default:
                if (c >= 0x20 && typed.size() <= kMaxPinCharacters) {
                    typed += static_cast<wchar_t>(c);
                }
        }
    }
}

// The first line of redirected standard input, without its line end, in the code page of bytes
// from outside the tool.
// False for a line holding a zero byte, which no PIN does.
bool readRedirectedLine(std::wstring& typed) {
    std::string bytes;
    bytes.reserve(kMaxPinCharacters + 2);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char c = 0;
    DWORD got = 0;
    while (ReadFile(input, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
        if (bytes.size() <= kMaxPinCharacters) {
            bytes += c;
        }
    }
    if (!bytes.empty() && bytes.back() == '\r') {
        bytes.pop_back();
    }
    const bool text = bytes.find('\0') == std::string::npos;
    const int size = static_cast<int>(bytes.size());
    const UINT codePage = codePageOf(bytes);
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (length > 0) {
        typed.resize(length);
        MultiByteToWideChar(codePage, 0, bytes.data(), size, &typed[0], length);
    }
    SecureZeroMemory(&bytes[0], bytes.size());
    return text;
}

}  // namespace

std::string pinArgument(char* argv[], int index) {
    NativePath text = pathArgument(argv, index);
    return pinInAnsiCodePage(text);
}

std::string readPin() {
    std::wstring typed;
    typed.reserve(kMaxPinCharacters + 2);
    bool entered = false;
    {
        const RawConsoleInput console;
        std::fflush(stdout);
        entered = console.isConsole() ? readConsoleLine(console, typed) : readRedirectedLine(typed);
    }
    if (!entered || typed.size() > kMaxPinCharacters) {
        eraseWide(typed);
        typed.clear();
    }
    return pinInAnsiCodePage(typed);
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

void maskCommandLineArgument(char* argv[], int index) {
    // Other processes read the line that GetCommandLineW returns, from the process parameters.
    // The runtime keeps copies of the line and of the split arguments; each gets the same mask.
    for (wchar_t* line : {GetCommandLineW(), _wcmdln}) {
        if (line) {
            maskArgumentInCommandLine(line, index, L'*');
        }
    }
    for (char* line : {GetCommandLineA(), _acmdln}) {
        if (line) {
            maskArgumentInCommandLine(line, index, '*');
        }
    }
    for (char** list : {argv, __argv}) {
        maskListedArgument(list, index, std::strlen);
    }
    maskListedArgument(__wargv, index, std::wcslen);
}

int readConfirmationKey() {
    std::fflush(stdout);
    return _getch();
}

std::optional<std::string> encodeCertificatePem(const std::vector<unsigned char>& der) {
    const DWORD flags = CRYPT_STRING_BASE64HEADER | CRYPT_STRING_NOCR;
    const DWORD derLength = static_cast<DWORD>(der.size());
    if (der.empty() || der.size() != derLength) {
        return std::nullopt;
    }
    DWORD size = 0;
    if (!CryptBinaryToStringA(der.data(), derLength, flags, nullptr, &size) || size == 0) {
        return std::nullopt;
    }
    std::string text(size, '\0');
    DWORD written = size;
    if (!CryptBinaryToStringA(der.data(), derLength, flags, &text[0], &written) ||
        written >= size) {
        return std::nullopt;
    }
    text.resize(written);
    return text;
}

WriteResult writeTextFile(const NativePath& path, const std::string& text) {
    std::FILE* file = nullptr;
    if (_wfopen_s(&file, path.c_str(), L"w+") != 0 || !file) {
        return WriteResult::OpenFailed;
    }
    // Text mode turns every line feed into carriage return and line feed.
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed ? WriteResult::Written : WriteResult::WriteFailed;
}

namespace {

bool outputIsConsole() {
    static const bool console = [] {
        DWORD mode = 0;
        return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
    }();
    return console;
}

void writeConsole(const std::wstring& text) {
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    for (std::size_t done = 0; done < text.size(); done += written) {
        if (!WriteConsoleW(console, text.data() + done, static_cast<DWORD>(text.size() - done),
                           &written, nullptr) ||
            written == 0) {
            return;
        }
    }
}

std::string vformatted(const char* format, va_list values) {
    va_list measuring;
    va_copy(measuring, values);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0) {
        return std::string();
    }
    std::string text(length + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, values);
    text.resize(length);
    return text;
}

std::string formatted(const char* format, ...) {
    va_list values;
    va_start(values, format);
    std::string text = vformatted(format, values);
    va_end(values);
    return text;
}

// A message with one value on the console: printf's line, with the format read as Shift_JIS.
void writeConsoleWithValue(const char* format, const std::wstring& value) {
    const std::string utf8Format = narrowed(CP_UTF8, widened(kShiftJis, format));
    const std::string line = formatted(utf8Format.c_str(), narrowed(CP_UTF8, value).c_str());
    writeConsole(widened(CP_UTF8, line));
}

}  // namespace

void print(const char* format, ...) {
    va_list values;
    va_start(values, format);
    if (outputIsConsole()) {
        writeConsole(widened(kShiftJis, vformatted(format, values)));
    } else {
        std::vprintf(format, values);
    }
    va_end(values);
}

void printText(const char* format, const std::string& text) {
    if (!outputIsConsole()) {
        std::printf(format, text.c_str());
        return;
    }
    writeConsoleWithValue(format, widened(codePageOf(text), text));
}

void printPath(const char* format, const NativePath& path) {
    if (outputIsConsole()) {
        writeConsoleWithValue(format, path);
        return;
    }
    // No best fit: a look-alike (e for é) would name another file. UTF-8 takes no such flag.
    const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    std::printf(format, narrowed(CP_ACP, path, flags).c_str());
}

void printLine(const char* line) {
    if (outputIsConsole()) {
        writeConsole(widened(kShiftJis, std::string(line) + "\n"));
    } else {
        std::cout << line << std::endl;
    }
}

void eraseSecret(void* data, std::size_t size) {
    SecureZeroMemory(data, size);
}

namespace {

// What Windows alone shows, on a console alone, in the user's language: a double-click's note and
// the guide of the Start-menu entry's console, which ends with the folder the console opens in.
struct GuideTexts {
    const wchar_t* doubleClick;
    const wchar_t* console;
};

const GuideTexts kJapaneseGuide = {
    L"\n"
    L"certexport は、コマンド プロンプトに入力して使うツールです。\n"
    L"スタート メニューの「certexport（コマンド プロンプト）」を開いて、\n"
    L"次のように入力してください（ファイル名は自由です）。\n"
    L"\n"
    L"  certexport - 署名用証明書.pem\n"
    L"\n"
    L"コマンド プロンプトを自分で開いたときは、書き込みのできるフォルダー\n"
    L"（ドキュメントなど）に移ってから実行してください。\n"
    L"\n"
    L"何かキーを押すと、このウィンドウを閉じます。\n",
    L"IC カードの署名用証明書を PEM ファイルに書き出します。\n"
    L"カードをリーダーに挿して、次のように入力してください（ファイル名は自由です）。\n"
    L"\n"
    L"  certexport - 署名用証明書.pem\n"
    L"\n"
    L"署名用 PIN を聞かれます。入力した PIN は画面に表示されません。\n"
    L"ファイルは次のフォルダーに書き込まれます:\n"
    L"  ",
};

const GuideTexts kEnglishGuide = {
    L"\n"
    L"certexport is a command-line tool: you type it in a Command Prompt.\n"
    L"Open \"certexport (Command Prompt)\" from the Start menu and type, for example:\n"
    L"\n"
    L"  certexport - signing-certificate.pem\n"
    L"\n"
    L"In a Command Prompt you opened yourself, first change to a folder you can\n"
    L"write to, such as Documents.\n"
    L"\n"
    L"Press any key to close this window.\n",
    L"This exports the signing certificate on your smart card to a PEM file.\n"
    L"Insert the card into the reader and type, for example:\n"
    L"\n"
    L"  certexport - signing-certificate.pem\n"
    L"\n"
    L"certexport asks for the signing PIN, which is not shown as you type it.\n"
    L"The file is written to this folder:\n"
    L"  ",
};

// Japanese where the display language is, English elsewhere, as the installer chooses.
const GuideTexts& guideTexts() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? kJapaneseGuide
                                                                      : kEnglishGuide;
}

// When a process started, in 100 ns steps; 0 when that cannot be asked.
unsigned long long startTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return static_cast<unsigned long long>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

DWORD parentProcessId() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL found = Process32FirstW(snapshot, &entry); found && !parent;
         found = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            parent = entry.th32ParentProcessID;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

struct Process {
    std::wstring image;  // the executable's file name
    unsigned long long started = 0;
};

// Name and start time come from one handle, so they belong to the same process.
Process parentProcess() {
    Process parent;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parentProcessId());
    if (!process) {
        return parent;
    }
    wchar_t image[MAX_PATH];
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameW(process, 0, image, &size)) {
        parent = {PathFindFileNameW(image), startTime(process)};
    }
    CloseHandle(process);
    return parent;
}

}  // namespace

void explainDoubleClick() {
    const Process parent = parentProcess();
    if (explainsDoubleClick(parent.image.c_str(), parent.started, startTime(GetCurrentProcess()),
                            outputIsConsole())) {
        writeConsole(guideTexts().doubleClick);
        _getch();
    }
}

namespace {

// Documents as the current folder, where the user's shell folders say it is (OneDrive may have
// moved it); the profile folder when Documents cannot be entered. Values are expanded as read.
void enterDocumentsFolder() {
    wchar_t folder[MAX_PATH];
    DWORD size = sizeof folder;
    if (RegGetValueW(HKEY_CURRENT_USER,
                     L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                     L"Personal", RRF_RT_REG_SZ, nullptr, folder, &size) == ERROR_SUCCESS &&
        SetCurrentDirectoryW(folder)) {
        return;
    }
    const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", folder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        SetCurrentDirectoryW(folder);
    }
}

std::wstring currentFolder() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    return length > 0 && length < MAX_PATH ? folder : L"";
}

// The tool's folder, this program's, at the end of PATH: the console runs certexport also where
// the installer left the system PATH alone, or before the desktop has taken up the new one.
void addOwnFolderToPath() {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !PathRemoveFileSpecW(folder)) {
        return;
    }
    std::wstring path(GetEnvironmentVariableW(L"PATH", nullptr, 0), L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", &path[0], static_cast<DWORD>(path.size())));
    SetEnvironmentVariableW(L"PATH", (path + L";" + folder).c_str());
}

// cmd.exe, which keeps the lines typed (a PIN among them) in memory alone, in this console, handed
// the console's title, as cmd titles the window itself when it starts; waits for it and gives its
// exit code.
int runCommandPrompt() {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    const std::wstring program = std::wstring(system) + L"\\cmd.exe";
    std::wstring line = L"\"" + program + L"\" /k";
    wchar_t title[MAX_PATH] = {};
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpTitle = GetConsoleTitleW(title, MAX_PATH) ? title : nullptr;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int openConsoleInDocuments() {
    enterDocumentsFolder();
    addOwnFolderToPath();
    writeConsole(guideTexts().console + currentFolder() + L"\n");
    return runCommandPrompt();
}

}  // namespace platform
