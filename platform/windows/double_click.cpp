// A double-click on the tool (or a file dropped on it) explains how to start it, and waits.
#include <windows.h>
// Included after windows.h, which they need.
#include <conio.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <string>

#include "platform/double_click.h"
#include "platform/platform.h"
#include "platform/windows/console.h"

namespace platform {
namespace {

const wchar_t kJapaneseNote[] =
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
    L"何かキーを押すと、このウィンドウを閉じます。\n";

const wchar_t kEnglishNote[] =
    L"\n"
    L"certexport is a command-line tool: you type it in a Command Prompt.\n"
    L"Open \"certexport (Command Prompt)\" from the Start menu and type, for example:\n"
    L"\n"
    L"  certexport - signing-certificate.pem\n"
    L"\n"
    L"In a Command Prompt you opened yourself, first change to a folder you can\n"
    L"write to, such as Documents.\n"
    L"\n"
    L"Press any key to close this window.\n";

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
        writeConsole(displayLanguageIsJapanese() ? kJapaneseNote : kEnglishNote);
        _getch();
    }
}

}  // namespace platform
