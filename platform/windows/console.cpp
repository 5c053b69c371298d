#include "platform/windows/console.h"

#include <cstdio>

#include "platform/platform.h"
#include "platform/windows/encoding.h"

namespace platform {
namespace {

// The console input in raw use and its mode as found, for the break handler, which runs on a
// thread of its own while the main thread waits for a key.
HANDLE rawInput = INVALID_HANDLE_VALUE;
DWORD modeFound = 0;
bool refuseOnBreak = false;

BOOL WINAPI restoreModeOnBreak(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    SetConsoleMode(rawInput, modeFound);
    if (!refuseOnBreak) {
        return FALSE;  // the default handler ends the process, as it always did at the question
    }
    showWhereKeysAreTyped("\n");
    print("\n");
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(-1));
}

// The process's console input ("CONIN$") or output ("CONOUT$"), whatever the standard handles are.
HANDLE openConsole(const wchar_t* device) {
    return CreateFileW(device, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE openConsoleInput(ConsoleKeys keys) {
    return keys == ConsoleKeys::Pin ? GetStdHandle(STD_INPUT_HANDLE) : openConsole(L"CONIN$");
}

}  // namespace

RawConsoleInput::RawConsoleInput(ConsoleKeys keys)
    : input_(openConsoleInput(keys)), owned_(keys == ConsoleKeys::Answer) {
    saved_ = input_ != INVALID_HANDLE_VALUE && GetConsoleMode(input_, &mode_) != FALSE;
    if (!saved_) {
        return;
    }
    rawInput = input_;
    modeFound = mode_;
    refuseOnBreak = keys == ConsoleKeys::Pin;
    SetConsoleCtrlHandler(restoreModeOnBreak, TRUE);
    // At the prompt Ctrl+C is an event (a console without that handling may keep it from the keys,
    // as Wine's on a terminal does); at the question it is a key, as _getch had it.
    const DWORD raw = mode_ & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    SetConsoleMode(input_, keys == ConsoleKeys::Pin ? raw | ENABLE_PROCESSED_INPUT
                                                    : raw & ~ENABLE_PROCESSED_INPUT);
}

RawConsoleInput::~RawConsoleInput() {
    if (saved_) {
        SetConsoleMode(input_, mode_);
        SetConsoleCtrlHandler(restoreModeOnBreak, FALSE);
    }
    if (owned_ && input_ != INVALID_HANDLE_VALUE) {
        CloseHandle(input_);
    }
}

bool RawConsoleInput::nextKey(KEY_EVENT_RECORD& key) const {
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(input_, &record, 1, &read) && read == 1) {
        if (record.EventType == KEY_EVENT) {
            key = record.Event.KeyEvent;
            return true;
        }
    }
    return false;
}

bool RawConsoleInput::eventWaiting() const {
    DWORD waiting = 0;
    return GetNumberOfConsoleInputEvents(input_, &waiting) && waiting > 0;
}

bool outputIsConsole() {
    static const bool console = [] {
        DWORD mode = 0;
        return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
    }();
    return console;
}

namespace {

void writeConsoleTo(HANDLE console, const std::wstring& text) {
    DWORD written = 0;
    for (std::size_t done = 0; done < text.size(); done += written) {
        if (!WriteConsoleW(console, text.data() + done, static_cast<DWORD>(text.size() - done),
                           &written, nullptr) ||
            written == 0) {
            return;
        }
    }
}

}  // namespace

void writeConsole(const std::wstring& text) {
    writeConsoleTo(GetStdHandle(STD_OUTPUT_HANDLE), text);
}

void showWhereKeysAreTyped(const char* text) {
    DWORD mode = 0;
    if (outputIsConsole() || !GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
        return;
    }
    const HANDLE console = openConsole(L"CONOUT$");
    if (console != INVALID_HANDLE_VALUE) {
        writeConsoleTo(console, widened(CP_UTF8, text));
        CloseHandle(console);
    }
}

void discardTypedAhead() {
    const HANDLE console = openConsole(L"CONIN$");
    if (console != INVALID_HANDLE_VALUE) {
        FlushConsoleInputBuffer(console);
        CloseHandle(console);
    }
}

bool displayLanguageIsJapanese() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

}  // namespace platform
